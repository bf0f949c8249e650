// Loads a built plug-in with dlopen, as the host does, for the plug-in tests.
#pragma once

#include "noise.h"
#include "plugin_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

inline std::string plugin_path(const std::string &deliverable, const char *dir = PLUGIN_DIR)
{
    return std::string(dir) + "/" + deliverable + ".so";
}

// A parameter block: one 4-byte slot per varstr entry.
struct Block {
    std::vector<uint32_t> slots;
    const PluginInfo *info = nullptr;

    bool has(const char *label) const
    {
        for (int i = 0; i < info->nvars; i++)
            if (std::strcmp(info->varstr[i].name, label) == 0)
                return true;
        return false;
    }
    int index(const char *label) const
    {
        for (int i = 0; i < info->nvars; i++)
            if (std::strcmp(info->varstr[i].name, label) == 0)
                return i;
        ADD_FAILURE() << "no parameter labelled \"" << label << "\"";
        return 0;
    }
    void set_float(const char *label, float v) { std::memcpy(&slots[index(label)], &v, 4); }
    void set_int(const char *label, int v) { std::memcpy(&slots[index(label)], &v, 4); }
    void *data() { return slots.data(); }
};

struct LoadedPlugin {
    void *handle = nullptr;
    PluginInfo info{};
    TexDoitR doit_r = nullptr;

    explicit LoadedPlugin(const std::string &deliverable, int flags = RTLD_NOW | RTLD_LOCAL,
                          const char *dir = PLUGIN_DIR)
    {
        handle = dlopen(plugin_path(deliverable, dir).c_str(), flags);
        if (!handle) {
            ADD_FAILURE() << "dlopen: " << dlerror();
            return;
        }
        auto getinfo = (void (*)(PluginInfo *))dlsym(handle, "plugin_getinfo");
        if (!getinfo) {
            ADD_FAILURE() << "no plugin_getinfo";
            return;
        }
        getinfo(&info);
        doit_r = (TexDoitR)dlsym(handle, "plugin_tex_doit_r");
    }
    ~LoadedPlugin()
    {
        if (handle)
            dlclose(handle);
    }
    LoadedPlugin(const LoadedPlugin &) = delete;
    LoadedPlugin &operator=(const LoadedPlugin &) = delete;

    void *symbol(const char *name) const { return dlsym(handle, name); }

    // The block the host builds from the widget defaults: floats as floats,
    // ints from the float default.
    Block defaults() const
    {
        Block b;
        b.info = &info;
        b.slots.resize(info.nvars);
        for (int i = 0; i < info.nvars; i++) {
            const VarStruct &v = info.varstr[i];
            if (v.type == VT_FLOAT_NUMBER) {
                std::memcpy(&b.slots[i], &v.def, 4);
            } else {
                int n = (int)v.def;
                std::memcpy(&b.slots[i], &n, 4);
            }
        }
        return b;
    }

    // One call through the host entry; returns the return value, copies `result`.
    int doit(int stype, Block &b, const float *texvec, const float *dxt, const float *dyt,
             float out[8]) const
    {
        int r = info.tex_doit(stype, b.data(), const_cast<float *>(texvec),
                              const_cast<float *>(dxt), const_cast<float *>(dyt));
        std::memcpy(out, info.result, 8 * sizeof(float));
        return r;
    }

    // Intensity alone, without footprint and without bump.
    float value_at(int stype, Block b, float x, float y, float z) const
    {
        b.set_int("BumpMap", 0);
        float p[3] = {x, y, z}, out[8];
        doit(stype, b, p, nullptr, nullptr, out);
        return out[0];
    }
};

// The test copy of a plug-in (plugins_lanes/) running on one noise path, or
// a reason to skip: the copy is not loaded or lacks the path.
struct LanesPlugin : LoadedPlugin {
    std::string unavailable;

    LanesPlugin(const std::string &deliverable, NoiseLanes lanes)
        : LoadedPlugin(deliverable, RTLD_NOW | RTLD_LOCAL, LANES_PLUGIN_DIR)
    {
        auto use = (int (*)(int))symbol("texture_test_use_noise_lanes");
        if (!handle || !use)
            unavailable = "the test copy of " + deliverable + " is not built";
        else if (!use((int)lanes))
            unavailable = std::string("the ") + noise_lanes_name(lanes) +
                          " noise path is not available on this build or processor";
    }
};

// Compares an exported parameter table with the expected rows byte for byte.
struct ExpectedRow {
    int type;
    const char *label;
    float def, min, max;
    const char *tip;
};

inline void expect_table(const PluginInfo &info, const std::vector<ExpectedRow> &rows)
{
    ASSERT_EQ(info.nvars, (int)rows.size());
    for (size_t i = 0; i < rows.size(); i++) {
        VarStruct want{};
        ASSERT_LT(std::strlen(rows[i].label), sizeof want.name);
        ASSERT_LT(std::strlen(rows[i].tip), sizeof want.tip);
        want.type = rows[i].type;
        std::memcpy(want.name, rows[i].label, std::strlen(rows[i].label));
        want.def = rows[i].def;
        want.min = rows[i].min;
        want.max = rows[i].max;
        std::memcpy(want.tip, rows[i].tip, std::strlen(rows[i].tip));
        EXPECT_EQ(0, std::memcmp(&want, &info.varstr[i], sizeof(VarStruct)))
            << "varstr entry " << i << " (\"" << rows[i].label << "\") differs";
    }
}

inline uint32_t bits_of(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}
