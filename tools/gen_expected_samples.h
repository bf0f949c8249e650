// The fixed sample set that pins every plug-in's output, its one-line text
// form, and one call through the host entry. Shared by gen_expected_samples
// (which writes tests/data/expected_samples.txt) and the hardening tests
// (which replay that file and render the same set with several plug-ins
// loaded at once).
//
// A line is
//   <plugin> <stype> <case> <block> <texvec> <dxt> <dyt> <ret> <r0> <r5> <r6> <r7>
// where <block> is the parameter block as comma-separated 32-bit slots in
// hex, <texvec>, <dxt> and <dyt> are three comma-separated float bit patterns
// ("-" for a null pointer), and r0, r5..r7 are the bit patterns of result
// elements 0 and 5 to 7 ("-" for 5 to 7 when the call returned 0).
#pragma once

#include "plugin_api.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

namespace samples {

// The five deliverables, in the order the file lists them.
inline const std::vector<std::string> &deliverables()
{
    static const std::vector<std::string> names = {"harvoske", "quelmi", "pellosca",
                                                   "delmorasquintava", "vamorela"};
    return names;
}

struct Sample {
    int stype = 0;
    std::string label;
    std::vector<uint32_t> cast;
    float texvec[3] = {0, 0, 0};
    bool has_dxt = false, has_dyt = false;
    float dxt[3] = {0, 0, 0};
    float dyt[3] = {0, 0, 0};
};

struct Answer {
    int ret = 0;
    uint32_t r0 = 0, r5 = 0, r6 = 0, r7 = 0; // r5..r7 only meaningful when ret == 2
    bool operator==(const Answer &o) const
    {
        return ret == o.ret && r0 == o.r0 &&
               (ret != RESULT_HAS_NORMAL || (r5 == o.r5 && r6 == o.r6 && r7 == o.r7));
    }
};

inline uint32_t bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

inline float from_bits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

// Slot i set to `value`, as a float or an int as the table says; label
// slots are never touched (they stay 0).
inline void set_slot(const PluginInfo &info, std::vector<uint32_t> &cast, int i, double value)
{
    if (i >= info.nvars || info.varstr[i].type == VT_LABEL)
        return;
    if (info.varstr[i].type == VT_FLOAT_NUMBER) {
        cast[i] = bits((float)value);
    } else {
        int n = (int)value;
        std::memcpy(&cast[i], &n, 4);
    }
}

inline std::vector<uint32_t> default_block(const PluginInfo &info)
{
    std::vector<uint32_t> cast(info.nvars, 0);
    for (int i = 0; i < info.nvars; i++)
        set_slot(info, cast, i, info.varstr[i].def);
    return cast;
}

// The plug-in's own parameters (from slot 12 on) at fraction t of their
// range; toggles flipped from their default when `flip` is set.
inline void set_own(const PluginInfo &info, std::vector<uint32_t> &cast, double t, bool flip)
{
    for (int i = 12; i < info.nvars; i++) {
        const VarStruct &v = info.varstr[i];
        if (v.type == VT_INT_TOGGLE)
            set_slot(info, cast, i, flip ? (v.def != 0.0f ? 0 : 1) : v.def);
        else if (v.type == VT_INT_NUMBER)
            set_slot(info, cast, i, (int)(v.min + t * ((double)v.max - v.min) + 0.5));
        else
            set_slot(info, cast, i, v.min + t * ((double)v.max - v.min));
    }
}

// Common slots: 0 turbulence weight (a label in some plug-ins), 1 noise
// size, 2 depth, 3 falloff, 4 hard noise, 5 seed, 6 bump, 7 filter,
// 8 two-way bump, 9 OSA (a label in some), 10 map max, 11 map min.
inline std::vector<Sample> sample_set(const PluginInfo &info)
{
    struct Block {
        const char *label;
        std::vector<uint32_t> cast;
    };
    std::vector<Block> blocks;
    auto base = default_block(info);
    blocks.push_back({"defaults", base});

    auto flat = base;
    set_slot(info, flat, 6, 0);
    blocks.push_back({"bump-off", flat});

    auto two_way = base;
    set_slot(info, two_way, 8, 1);
    set_slot(info, two_way, 9, 3);
    blocks.push_back({"two-way", two_way});

    auto hard = base;
    set_slot(info, hard, 1, 0.6);
    set_slot(info, hard, 2, 6);
    set_slot(info, hard, 3, 0.8);
    set_slot(info, hard, 4, 1);
    set_slot(info, hard, 5, 77);
    set_slot(info, hard, 9, 5);
    set_slot(info, hard, 10, 0.9);
    set_slot(info, hard, 11, 0.2);
    blocks.push_back({"hard-deep", hard});

    auto own_high = base;
    set_slot(info, own_high, 0, 3.5);
    set_slot(info, own_high, 2, 3);
    set_slot(info, own_high, 5, 13);
    set_own(info, own_high, 0.7, true);
    blocks.push_back({"own-high", own_high});

    auto own_low = base;
    set_slot(info, own_low, 1, 1.3);
    set_slot(info, own_low, 2, 1);
    set_slot(info, own_low, 5, 255);
    set_slot(info, own_low, 7, 0.02);
    set_slot(info, own_low, 8, 1);
    set_slot(info, own_low, 9, 16);
    set_slot(info, own_low, 10, 0.3); // inverted map range
    set_slot(info, own_low, 11, 0.6);
    set_own(info, own_low, 0.2, false);
    blocks.push_back({"own-low", own_low});

    // An inverted range whose limits' sum is not a float: it collapses to
    // about [0.042, 0.052], where hard noise puts many raw values.
    auto collapsed = base;
    set_slot(info, collapsed, 4, 1);
    set_slot(info, collapsed, 10, 0.5);
    set_slot(info, collapsed, 11, 0.54);
    blocks.push_back({"collapsed", collapsed});

    const float points[][3] = {
        {0.1f, 0.2f, 0.3f}, {-1.7f, 4.2f, 0.9f}, {12.5f, -3.25f, -7.0f}, {-0.45f, -0.8f, 2.6f}};
    struct Footprint {
        bool given;
        float dxt[3], dyt[3];
    };
    const Footprint footprints[] = {{false, {0, 0, 0}, {0, 0, 0}},
                                    {true, {0.02f, 0.005f, 0.0f}, {0.0f, 0.015f, 0.03f}},
                                    {true, {0.4f, 0.1f, 0.2f}, {-0.1f, 0.5f, 0.05f}}};

    std::vector<Sample> set;
    const int stypes = info.stypes > 0 ? info.stypes : 1;
    for (int stype = 0; stype < stypes; stype++)
        for (const auto &b : blocks)
            for (const auto &p : points)
                for (const auto &f : footprints) {
                    Sample s;
                    s.stype = stype;
                    s.label = b.label;
                    s.cast = b.cast;
                    std::memcpy(s.texvec, p, sizeof s.texvec);
                    s.has_dxt = s.has_dyt = f.given;
                    std::memcpy(s.dxt, f.dxt, sizeof s.dxt);
                    std::memcpy(s.dyt, f.dyt, sizeof s.dyt);
                    set.push_back(s);
                }
    return set;
}

// One sample through the host entry, reading `result` afterwards.
inline Answer render(const PluginInfo &info, const Sample &s)
{
    std::vector<uint32_t> block = s.cast;
    float texvec[3], dxt[3], dyt[3];
    std::memcpy(texvec, s.texvec, sizeof texvec);
    std::memcpy(dxt, s.dxt, sizeof dxt);
    std::memcpy(dyt, s.dyt, sizeof dyt);
    Answer a;
    a.ret = info.tex_doit(s.stype, block.data(), texvec, s.has_dxt ? dxt : nullptr,
                          s.has_dyt ? dyt : nullptr);
    a.r0 = bits(info.result[0]);
    if (a.ret == RESULT_HAS_NORMAL) {
        a.r5 = bits(info.result[5]);
        a.r6 = bits(info.result[6]);
        a.r7 = bits(info.result[7]);
    }
    return a;
}

// The same sample through the reentrant entry.
inline Answer render_r(TexDoitR doit_r, const Sample &s)
{
    std::vector<uint32_t> block = s.cast;
    float texvec[3], dxt[3], dyt[3], out[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(texvec, s.texvec, sizeof texvec);
    std::memcpy(dxt, s.dxt, sizeof dxt);
    std::memcpy(dyt, s.dyt, sizeof dyt);
    Answer a;
    a.ret = doit_r(s.stype, block.data(), texvec, s.has_dxt ? dxt : nullptr,
                   s.has_dyt ? dyt : nullptr, out);
    a.r0 = bits(out[0]);
    if (a.ret == RESULT_HAS_NORMAL) {
        a.r5 = bits(out[5]);
        a.r6 = bits(out[6]);
        a.r7 = bits(out[7]);
    }
    return a;
}

inline std::string hex_list(const uint32_t *v, size_t n)
{
    std::string out;
    char buf[16];
    for (size_t i = 0; i < n; i++) {
        std::snprintf(buf, sizeof buf, "%s%08x", i ? "," : "", (unsigned)v[i]);
        out += buf;
    }
    return out;
}

inline std::string vec_field(bool given, const float *v)
{
    if (!given)
        return "-";
    const uint32_t b[3] = {bits(v[0]), bits(v[1]), bits(v[2])};
    return hex_list(b, 3);
}

inline std::string format_line(const std::string &plugin, const Sample &s, const Answer &a)
{
    std::ostringstream line;
    line << plugin << ' ' << s.stype << ' ' << s.label << ' '
         << hex_list(s.cast.data(), s.cast.size()) << ' ' << vec_field(true, s.texvec) << ' '
         << vec_field(s.has_dxt, s.dxt) << ' ' << vec_field(s.has_dyt, s.dyt) << ' ' << a.ret;
    const uint32_t r0 = a.r0;
    line << ' ' << hex_list(&r0, 1);
    if (a.ret == RESULT_HAS_NORMAL) {
        const uint32_t r[3] = {a.r5, a.r6, a.r7};
        for (uint32_t b : r)
            line << ' ' << hex_list(&b, 1);
    } else {
        line << " - - -";
    }
    return line.str();
}

inline bool parse_hex_list(const std::string &field, std::vector<uint32_t> &out)
{
    out.clear();
    std::istringstream in(field);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.size() != 8 || item.find_first_not_of("0123456789abcdef") != std::string::npos)
            return false;
        out.push_back((uint32_t)std::stoul(item, nullptr, 16));
    }
    return !out.empty();
}

inline bool parse_vec(const std::string &field, bool &given, float *v)
{
    given = field != "-";
    if (!given)
        return true;
    std::vector<uint32_t> b;
    if (!parse_hex_list(field, b) || b.size() != 3)
        return false;
    for (int k = 0; k < 3; k++)
        v[k] = from_bits(b[k]);
    return true;
}

// Parses one line of the file; false for a malformed line.
inline bool parse_line(const std::string &line, std::string &plugin, Sample &s, Answer &a)
{
    std::istringstream in(line);
    std::string block, texvec, dxt, dyt, r0, r5, r6, r7;
    if (!(in >> plugin >> s.stype >> s.label >> block >> texvec >> dxt >> dyt >> a.ret >> r0 >>
          r5 >> r6 >> r7))
        return false;
    std::string rest;
    if (in >> rest)
        return false;
    bool given;
    if (!parse_hex_list(block, s.cast) || !parse_vec(texvec, given, s.texvec) || !given ||
        !parse_vec(dxt, s.has_dxt, s.dxt) || !parse_vec(dyt, s.has_dyt, s.dyt))
        return false;
    std::vector<uint32_t> b;
    if (!parse_hex_list(r0, b) || b.size() != 1)
        return false;
    a.r0 = b[0];
    if (a.ret == RESULT_HAS_NORMAL) {
        uint32_t *dst[3] = {&a.r5, &a.r6, &a.r7};
        const std::string *src[3] = {&r5, &r6, &r7};
        for (int k = 0; k < 3; k++) {
            if (!parse_hex_list(*src[k], b) || b.size() != 1)
                return false;
            *dst[k] = b[0];
        }
    } else if (r5 != "-" || r6 != "-" || r7 != "-") {
        return false;
    }
    return true;
}

} // namespace samples
