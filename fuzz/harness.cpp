// One fuzz input through both per-sample entries of the plug-in compiled into
// this binary. Any answer the host could not use aborts the run: a return
// value other than 0 or 2, a return of 2 without "BumpMap" (or the reverse),
// an intensity outside [0, 1] or NaN, a non-finite bump vector, a write into
// the unused result elements, or the two entries disagreeing.
//
// Every buffer handed to the plug-in is a heap block of exactly its contract
// size, so that AddressSanitizer reports a read past the parameter block or
// past a vector.
#include "fuzz_input.h"
#include "plugin_api.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const PluginInfo &plugin()
{
    static PluginInfo info = [] {
        PluginInfo i;
        std::memset(&i, 0, sizeof i);
        plugin_getinfo(&i);
        return i;
    }();
    return info;
}

uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

[[noreturn]] void fail(const char *entry, const FuzzInput &in, const char *what, int ret,
                       const float *out)
{
    std::fprintf(stderr, "\n%s (%s): %s\n", plugin().name, entry, what);
    std::fprintf(stderr, "  stype %d, dxt %s, dyt %s\n", in.stype, in.pass_dxt ? "given" : "null",
                 in.pass_dyt ? "given" : "null");
    std::fprintf(stderr, "  texvec %a %a %a\n", in.texvec[0], in.texvec[1], in.texvec[2]);
    if (in.pass_dxt)
        std::fprintf(stderr, "  dxt %a %a %a\n", in.dxt[0], in.dxt[1], in.dxt[2]);
    if (in.pass_dyt)
        std::fprintf(stderr, "  dyt %a %a %a\n", in.dyt[0], in.dyt[1], in.dyt[2]);
    const PluginInfo &info = plugin();
    for (int i = 0; i < info.nvars; i++) {
        float f;
        int n;
        std::memcpy(&f, &in.cast[i], 4);
        std::memcpy(&n, &in.cast[i], 4);
        if (info.varstr[i].type == VT_FLOAT_NUMBER)
            std::fprintf(stderr, "  [%2d] %-15s %a (%g)\n", i, info.varstr[i].name, f, f);
        else
            std::fprintf(stderr, "  [%2d] %-15s %d\n", i, info.varstr[i].name, n);
    }
    std::fprintf(stderr, "  returned %d; result %a | %a %a %a\n", ret, out[0], out[5], out[6],
                 out[7]);
    std::abort();
}

// The checks every answer must pass, whichever entry gave it.
void check_answer(const char *entry, const FuzzInput &in, int ret, const float *out)
{
    int do_bump;
    std::memcpy(&do_bump, &in.cast[6], 4);
    if (ret != 0 && ret != RESULT_HAS_NORMAL)
        fail(entry, in, "return value is neither 0 nor 2", ret, out);
    if ((ret == RESULT_HAS_NORMAL) != (do_bump != 0))
        fail(entry, in, "return value does not follow \"BumpMap\"", ret, out);
    if (!(out[0] >= 0.0f && out[0] <= 1.0f))
        fail(entry, in, "intensity outside [0, 1] or NaN", ret, out);
    if (ret == RESULT_HAS_NORMAL &&
        !(std::isfinite(out[5]) && std::isfinite(out[6]) && std::isfinite(out[7])))
        fail(entry, in, "non-finite bump vector", ret, out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const PluginInfo &info = plugin();
    const FuzzInput in = decode_fuzz_input(data, size, info.nvars);

    std::unique_ptr<uint32_t[]> block(new uint32_t[info.nvars]);
    std::memcpy(block.get(), in.cast.data(), 4 * (size_t)info.nvars);
    std::unique_ptr<float[]> texvec(new float[3]), dxt, dyt;
    std::memcpy(texvec.get(), in.texvec, 12);
    if (in.pass_dxt) {
        dxt.reset(new float[3]);
        std::memcpy(dxt.get(), in.dxt, 12);
    }
    if (in.pass_dyt) {
        dyt.reset(new float[3]);
        std::memcpy(dyt.get(), in.dyt, 12);
    }

    // The host entry, writing the exported result array.
    for (int k = 0; k < 8; k++)
        info.result[k] = 0.0f;
    int ret = plugin_tex_doit(in.stype, block.get(), texvec.get(), dxt.get(), dyt.get());
    float host[8];
    std::memcpy(host, info.result, sizeof host);
    check_answer("plugin_tex_doit", in, ret, host);
    for (int k = 1; k <= 4; k++)
        if (bits(host[k]) != 0)
            fail("plugin_tex_doit", in, "wrote an unused result element", ret, host);
    if (std::memcmp(block.get(), in.cast.data(), 4 * (size_t)info.nvars) != 0)
        fail("plugin_tex_doit", in, "wrote into the parameter block", ret, host);

    // The reentrant entry into the caller's array: the same answer to the bit.
    std::unique_ptr<float[]> own(new float[8]);
    for (int k = 0; k < 8; k++)
        own[k] = 0.0f;
    int ret_r = plugin_tex_doit_r(in.stype, block.get(), texvec.get(), dxt.get(), dyt.get(),
                                  own.get());
    check_answer("plugin_tex_doit_r", in, ret_r, own.get());
    bool same = ret_r == ret && bits(own[0]) == bits(host[0]);
    if (ret == RESULT_HAS_NORMAL)
        for (int k = 5; k < 8; k++)
            same = same && bits(own[k]) == bits(host[k]);
    if (!same)
        fail("plugin_tex_doit_r", in, "differs from plugin_tex_doit on the same input", ret_r,
             own.get());
    return 0;
}
