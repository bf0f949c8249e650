// The byte layout of one fuzz input, shared by the harness that decodes it and
// the seed writer that encodes it. All multi-byte values are little-endian.
//
//   offset 0           flags: bit 0 set = pass dxt, bit 1 set = pass dyt
//   offset 1           stype, int32
//   offset 5           the parameter block, 4 * nvars bytes
//   then               texvec, dxt, dyt: 3 floats each
//
// A shorter input is padded with zero bytes; bytes past the end are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

struct FuzzInput {
    bool pass_dxt = false;
    bool pass_dyt = false;
    int32_t stype = 0;
    std::vector<uint32_t> cast; // one slot per parameter, as the plug-in reads it
    float texvec[3] = {0, 0, 0};
    float dxt[3] = {0, 0, 0};
    float dyt[3] = {0, 0, 0};
};

inline size_t fuzz_input_size(int nvars) { return 1 + 4 + 4 * (size_t)nvars + 9 * 4; }

inline FuzzInput decode_fuzz_input(const uint8_t *data, size_t size, int nvars)
{
    std::vector<uint8_t> bytes(fuzz_input_size(nvars), 0);
    std::memcpy(bytes.data(), data, size < bytes.size() ? size : bytes.size());
    const uint8_t *p = bytes.data();
    FuzzInput in;
    in.pass_dxt = (p[0] & 1) != 0;
    in.pass_dyt = (p[0] & 2) != 0;
    std::memcpy(&in.stype, p + 1, 4);
    p += 5;
    in.cast.resize(nvars);
    std::memcpy(in.cast.data(), p, 4 * (size_t)nvars);
    p += 4 * (size_t)nvars;
    std::memcpy(in.texvec, p, 12);
    std::memcpy(in.dxt, p + 12, 12);
    std::memcpy(in.dyt, p + 24, 12);
    return in;
}

inline std::vector<uint8_t> encode_fuzz_input(const FuzzInput &in)
{
    std::vector<uint8_t> bytes(fuzz_input_size((int)in.cast.size()), 0);
    uint8_t *p = bytes.data();
    p[0] = (uint8_t)((in.pass_dxt ? 1 : 0) | (in.pass_dyt ? 2 : 0));
    std::memcpy(p + 1, &in.stype, 4);
    p += 5;
    std::memcpy(p, in.cast.data(), 4 * in.cast.size());
    p += 4 * in.cast.size();
    std::memcpy(p, in.texvec, 12);
    std::memcpy(p + 12, in.dxt, 12);
    std::memcpy(p + 24, in.dyt, 12);
    return bytes;
}
