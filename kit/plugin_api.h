// The host's texture plug-in interface: the records exchanged with the host,
// the type words of the parameter widgets and the exported entry points.
// Declared once here; every plug-in and the stand-in host include it.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define PLUGIN_EXPORT __attribute__((visibility("default")))

// Interface version returned by plugin_tex_getversion.
#define PLUGIN_TEX_VERSION 3

// plugin_tex_doit's return value when result elements 5 to 7 were written.
#define RESULT_HAS_NORMAL 2

// Type word of a widget: widget kind * 256 + data kind.
#define VT_FLOAT_NUMBER 0x0A80 /* number field, float */
#define VT_INT_NUMBER 0x0A60   /* number field, int */
#define VT_INT_TOGGLE 0x0660   /* on/off toggle, int */
#define VT_LABEL 0x1460        /* caption or blank spacer, int slot */

// One parameter widget. The host reads an array of these, so the layout is
// fixed: 112 bytes, offsets pinned below.
typedef struct VarStruct {
    int type;
    char name[16];
    float def;
    float min;
    float max;
    char tip[80];
} VarStruct;

// The parameter block is opaque at the interface: each plug-in lays it out as
// its own Cast record, one 4-byte slot per VarStruct entry.
typedef int (*TexDoit)(int stype, void *cast, float *texvec, float *dxt, float *dyt);
typedef void (*SeqDoit)(void);

// What a plug-in tells the host about itself. The host owns the record;
// plugin_getinfo fills every field but seq_doit.
typedef struct _PluginInfo {
    char *name;
    char *snames;
    int stypes;
    int nvars;
    VarStruct *varstr;
    float *result;
    float *cfra;
    void (*init)(void);
    void (*callback)(int but);
    TexDoit tex_doit;
    SeqDoit seq_doit;
} PluginInfo;

// Entry points every plug-in exports.
PLUGIN_EXPORT int plugin_tex_getversion(void);
PLUGIN_EXPORT void plugin_getinfo(PluginInfo *info);
PLUGIN_EXPORT void plugin_init(void);
PLUGIN_EXPORT void plugin_but_changed(int but);
PLUGIN_EXPORT int plugin_tex_doit(int stype, void *cast, float *texvec, float *dxt, float *dyt);

// Extension beside the host interface: the same evaluation as plugin_tex_doit,
// written into the caller's 8 floats instead of the shared `result`, so that
// several threads can render with one loaded plug-in.
PLUGIN_EXPORT int plugin_tex_doit_r(int stype, void *cast, float *texvec, float *dxt, float *dyt,
                                    float *out);
typedef int (*TexDoitR)(int stype, void *cast, float *texvec, float *dxt, float *dyt, float *out);

#ifdef __cplusplus
}

#include <cstddef>

static_assert(sizeof(int) == 4 && sizeof(float) == 4, "the interface needs 32-bit int and float");
static_assert(sizeof(VarStruct) == 112, "VarStruct is exchanged with the host");
static_assert(offsetof(VarStruct, type) == 0, "VarStruct layout");
static_assert(offsetof(VarStruct, name) == 4, "VarStruct layout");
static_assert(offsetof(VarStruct, def) == 20, "VarStruct layout");
static_assert(offsetof(VarStruct, min) == 24, "VarStruct layout");
static_assert(offsetof(VarStruct, max) == 28, "VarStruct layout");
static_assert(offsetof(VarStruct, tip) == 32, "VarStruct layout");

// PluginInfo keeps the host's field order with the platform's pointer width.
constexpr size_t kPtr = sizeof(void *);
static_assert(offsetof(PluginInfo, name) == 0, "PluginInfo layout");
static_assert(offsetof(PluginInfo, snames) == kPtr, "PluginInfo layout");
static_assert(offsetof(PluginInfo, stypes) == 2 * kPtr, "PluginInfo layout");
static_assert(offsetof(PluginInfo, nvars) == 2 * kPtr + 4, "PluginInfo layout");
static_assert(offsetof(PluginInfo, varstr) == (kPtr == 8 ? 24 : 16), "PluginInfo layout");
static_assert(offsetof(PluginInfo, seq_doit) == offsetof(PluginInfo, varstr) + 6 * kPtr,
              "PluginInfo layout");
static_assert(sizeof(PluginInfo) == (kPtr == 8 ? 80 : 44), "PluginInfo size");
#endif
