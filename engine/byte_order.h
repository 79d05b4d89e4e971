// Little- and big-endian integer access to byte buffers. Every integer that
// the engine reads from or writes to a file goes through these helpers; no
// struct is ever laid over a file buffer.
#pragma once

#include <cstdint>
#include <cstring>

namespace veltra {

inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline int16_t GetI16(const uint8_t* p) { return int16_t(GetU16(p)); }
inline uint32_t GetU32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline int32_t GetI32(const uint8_t* p) { return int32_t(GetU32(p)); }
inline uint64_t GetU64(const uint8_t* p) { return uint64_t(GetU32(p)) | (uint64_t(GetU32(p + 4)) << 32); }
inline int64_t GetI64(const uint8_t* p) { return int64_t(GetU64(p)); }
inline double GetF64(const uint8_t* p) {
    uint64_t bits = GetU64(p);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

inline void PutU16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void PutI16(uint8_t* p, int16_t v) { PutU16(p, uint16_t(v)); }
inline void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutI32(uint8_t* p, int32_t v) { PutU32(p, uint32_t(v)); }
inline void PutU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void PutI64(uint8_t* p, int64_t v) { PutU64(p, uint64_t(v)); }
inline void PutF64(uint8_t* p, double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    PutU64(p, bits);
}

// Big-endian, used by index keys so that byte order is value order.
inline void PutBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void PutBE64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (56 - 8 * i));
}
inline uint16_t GetBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t GetBE64(const uint8_t* p) { return (uint64_t(GetBE32(p)) << 32) | GetBE32(p + 4); }

}  // namespace veltra
