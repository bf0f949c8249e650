// Small libraries that the host tests load in place of real plug-ins, one
// per FAKE_* variant:
//   FAKE_GRADIENT    a valid plug-in with a known linear pattern and no
//                    plugin_tex_doit_r, so it must be rendered on one thread;
//   FAKE_VERSION2    reports interface version 2;
//   FAKE_NO_GETINFO  reports version 3 but has no plugin_getinfo;
//   FAKE_BAD_INFO    describes itself with a negative parameter count;
//   FAKE_NOT_PLUGIN  an ordinary library without any plug-in entry;
//   FAKE_CRASH       the gradient under the name "Crasher", which dies of a
//                    segmentation fault when "Steps" is 7, never returns
//                    when it is 6 and takes 200 microseconds a call when it
//                    is 5 (for tests that stop a long render).
#include "plugin_api.h"

#include <atomic>
#include <cmath>
#include <csignal>
#include <unistd.h>
#include <cstring>

#define EXPORT __attribute__((visibility("default")))

extern "C" {

#if defined(FAKE_NOT_PLUGIN)

EXPORT int fake_answer(void) { return 42; }

#else

#if defined(FAKE_CRASH)
EXPORT char name[24] = "Crasher";
#else
EXPORT char name[24] = "Gradient";
#endif
EXPORT char stnames[3][16] = {"Ramp", "Rise", "Constant"};
EXPORT float result[8];
EXPORT float cfra;

// Scale, Steps, a caption "Levels" with two unlabelled values, BumpMap.
EXPORT VarStruct varstr[] = {
    {VT_FLOAT_NUMBER, "Scale", 1.0f, 0.0f, 10.0f, "Slope of the ramp"},
    {VT_INT_NUMBER, "Steps", 0.0f, 0.0f, 8.0f, "Quantise to this many levels (0: off)"},
    {VT_LABEL, "Levels", 0.0f, 0.0f, 0.0f, ""},
    {VT_FLOAT_NUMBER, "", 0.25f, 0.0f, 1.0f, ""},
    {VT_FLOAT_NUMBER, "", 0.75f, 0.0f, 1.0f, ""},
    {VT_INT_TOGGLE, "BumpMap", 1.0f, 0.0f, 1.0f, "Generate bump map"},
};

struct Cast {
    float scale;
    int steps;
    int levels_label;
    float level;
    float unused_level;
    int do_bump;
};

// Calls made, and calls that began while another was still running.
EXPORT std::atomic<int> fake_calls{0};
EXPORT std::atomic<int> fake_overlaps{0};

EXPORT int plugin_tex_getversion(void)
{
#if defined(FAKE_VERSION2)
    return 2;
#else
    return 3;
#endif
}

EXPORT void plugin_init(void) {}
EXPORT void plugin_but_changed(int) {}

static float clamp01(double v) { return v < 0 ? 0.0f : v > 1 ? 1.0f : (float)v; }

// Ramp: 0.5 + scale * x; Rise: 0.5 + scale * y; Constant: the first level.
EXPORT int plugin_tex_doit(int stype, void *block, float *texvec, float *, float *)
{
    static std::atomic<int> busy{0};
    if (busy.exchange(1))
        fake_overlaps++;
    fake_calls++;
    const Cast *c = static_cast<const Cast *>(block);
#if defined(FAKE_CRASH)
    if (c->steps == 7)
        std::raise(SIGSEGV);
    while (c->steps == 6)
        pause();
    if (c->steps == 5)
        usleep(200);
#endif
    double v = stype == 0 ? 0.5 + c->scale * (double)texvec[0]
               : stype == 1 ? 0.5 + c->scale * (double)texvec[1]
                            : c->level;
    float value = clamp01(v);
    if (c->steps > 0)
        value = (float)(std::floor(value * c->steps) / c->steps);
    result[0] = value;
    int r = 0;
    if (c->do_bump) {
        bool sloped = stype < 2 && v > 0 && v < 1;
        result[5] = stype == 0 && sloped ? 0.05f * c->scale : 0.0f;
        result[6] = stype == 1 && sloped ? 0.05f * c->scale : 0.0f;
        result[7] = 0.0f;
        r = RESULT_HAS_NORMAL;
    }
    busy = 0;
    return r;
}

#if !defined(FAKE_NO_GETINFO)
EXPORT void plugin_getinfo(PluginInfo *info)
{
    info->name = name;
    info->snames = &stnames[0][0];
    info->stypes = 3;
#if defined(FAKE_BAD_INFO)
    info->nvars = -5;
#else
    info->nvars = (int)(sizeof varstr / sizeof varstr[0]);
#endif
    info->varstr = varstr;
    info->result = result;
    info->cfra = &cfra;
    info->init = plugin_init;
    info->callback = plugin_but_changed;
    info->tex_doit = plugin_tex_doit;
}
#endif

#endif

} // extern "C"
