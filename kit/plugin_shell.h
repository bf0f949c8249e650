// What every plug-in has in common apart from its pattern: the parameter
// table declared once as rows from which both the Cast record and the
// exported `varstr` are generated, and the four fixed entry points.
//
// A plug-in writes its rows as
//   #define MY_PARAMETERS(ROW)
//       ROW(float, noise_size, VT_FLOAT_NUMBER, "Noise Size", 0.25, 0.0001, 2.0, "") ...
// (one ROW per line, joined by backslashes),
// then DECLARE_CAST(MY_PARAMETERS), DEFINE_VARSTR(MY_PARAMETERS) and
// DEFINE_PLUGIN_SHELL(stnames-or-nullptr, stype count).
#pragma once

#include "plugin_api.h"

#include <type_traits>

#define CAST_FIELD_(type, field, kind, label, def, min, max, tip) type field;
#define VARSTR_ENTRY_(type, field, kind, label, def, min, max, tip)                                \
    {kind, label, (float)(def), (float)(min), (float)(max), tip},
// A float slot for a float widget, an int slot for every other kind.
#define CHECK_SLOT_(type, field, kind, label, def, min, max, tip)                                  \
    static_assert(sizeof(type) == 4 &&                                                             \
                      std::is_same<type, float>::value == ((kind) == VT_FLOAT_NUMBER) &&           \
                      (std::is_same<type, float>::value || std::is_same<type, int>::value),       \
                  "Cast field " #field " does not match its widget");

// The parameter block: one 4-byte field per table row, in row order.
#define DECLARE_CAST(PARAMETERS)                                                                   \
    struct Cast {                                                                                  \
        PARAMETERS(CAST_FIELD_)                                                                    \
    };                                                                                             \
    PARAMETERS(CHECK_SLOT_)

#define DEFINE_VARSTR(PARAMETERS)                                                                  \
    extern "C" {                                                                                   \
    PLUGIN_EXPORT VarStruct varstr[] = {PARAMETERS(VARSTR_ENTRY_)};                                \
    }                                                                                              \
    constexpr int plugin_nvars = (int)(sizeof(varstr) / sizeof(varstr[0]));                        \
    static_assert(sizeof(Cast) == 4 * sizeof(varstr) / sizeof(varstr[0]),                          \
                  "Cast has one 4-byte slot per parameter")

// `result`, `cfra` and the four entries that are the same in every plug-in.
// Expects `name`, `varstr` and a declaration of plugin_tex_doit in scope.
#define DEFINE_PLUGIN_SHELL(SNAMES, STYPES)                                                        \
    extern "C" {                                                                                   \
    PLUGIN_EXPORT float result[8];                                                                 \
    PLUGIN_EXPORT float cfra;                                                                      \
    PLUGIN_EXPORT int plugin_tex_getversion(void) { return PLUGIN_TEX_VERSION; }                   \
    PLUGIN_EXPORT void plugin_init(void) {}                                                        \
    PLUGIN_EXPORT void plugin_but_changed(int) {}                                                  \
    PLUGIN_EXPORT void plugin_getinfo(PluginInfo *info)                                            \
    {                                                                                              \
        info->name = name;                                                                         \
        info->snames = (char *)(SNAMES);                                                           \
        info->stypes = (STYPES);                                                                   \
        info->nvars = plugin_nvars;                                                                \
        info->varstr = varstr;                                                                     \
        info->result = result;                                                                     \
        info->cfra = &cfra;                                                                        \
        info->init = plugin_init;                                                                  \
        info->callback = plugin_but_changed;                                                       \
        info->tex_doit = plugin_tex_doit;                                                          \
    }                                                                                              \
    }

// plugin_tex_doit writes the shared `result`; plugin_tex_doit_r the caller's array.
#define DEFINE_TEX_DOIT(TEXTURE)                                                                   \
    extern "C" PLUGIN_EXPORT int plugin_tex_doit(int stype, void *cast, float *texvec, float *dxt, \
                                                 float *dyt)                                       \
    {                                                                                              \
        return evaluate<TEXTURE>(stype, cast, texvec, dxt, dyt, result);                           \
    }                                                                                              \
    extern "C" PLUGIN_EXPORT int plugin_tex_doit_r(int stype, void *cast, float *texvec,           \
                                                   float *dxt, float *dyt, float *out)             \
    {                                                                                              \
        return evaluate<TEXTURE>(stype, cast, texvec, dxt, dyt, out);                              \
    }
