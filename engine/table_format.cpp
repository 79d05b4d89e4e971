#include "table_format.h"

#include <algorithm>
#include <cstring>

namespace veltra {

int PhysicalSizeFor(uint8_t fieldType, uint8_t size) {
    switch (fieldType) {
        case ftString: return size + 1;
        case ftDate: case ftBlob: case ftInteger: case ftTime: case ftCardinal: return 4;
        case ftBoolean: case ftSmallInt: case ftWord: return 2;
        case ftFloat: case ftBCD: case ftDateTime: return 8;
        case ftExtended: return 10;
        default: return size;  // Bytes, VarBytes and unknown codes
    }
}

std::string GetShortString(const uint8_t* area, int capacity) {
    size_t len = std::min<size_t>(area[0], size_t(capacity));
    return std::string(reinterpret_cast<const char*>(area + 1), len);
}

void PutShortString(uint8_t* area, int capacity, const std::string& text) {
    size_t len = std::min(text.size(), size_t(capacity));
    std::memset(area, 0, size_t(capacity) + 1);
    area[0] = uint8_t(len);
    std::memcpy(area + 1, text.data(), len);
}

namespace {

// Windows-1252 upper case, used to compare field names without regard to case.
uint8_t Cp1252Upper(uint8_t c) {
    if (c >= 'a' && c <= 'z') return uint8_t(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return uint8_t(c - 32);
    switch (c) {
        case 0x9A: return 0x8A;
        case 0x9C: return 0x8C;
        case 0x9E: return 0x8E;
        case 0xFF: return 0x9F;
        default: return c;
    }
}

}  // namespace

bool SameNameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Cp1252Upper(uint8_t(a[i])) != Cp1252Upper(uint8_t(b[i]))) return false;
    return true;
}

}  // namespace veltra
