#include "record_bitmap.h"

#include <algorithm>
#include <bit>

namespace veltra {

void TRecordBitmap::Resize(int32_t records) {
    if (records < 0) records = 0;
    m_Records = records;
    m_Bytes.resize(size_t(records) / 8 + 1, 0);
    ClearTail();
}

// Bits past the last record stay clear so that Count and Invert are exact.
void TRecordBitmap::ClearTail() {
    int used = m_Records % 8;
    m_Bytes.back() &= uint8_t((1u << used) - 1);
}

bool TRecordBitmap::Test(int32_t r) const {
    if (r < 1 || r > m_Records) return false;
    return (m_Bytes[size_t(r - 1) / 8] >> ((r - 1) % 8)) & 1;
}

void TRecordBitmap::Set(int32_t r) {
    if (r < 1) return;
    if (r > m_Records) Resize(r);
    m_Bytes[size_t(r - 1) / 8] |= uint8_t(1u << ((r - 1) % 8));
}

void TRecordBitmap::Clear(int32_t r) {
    if (r < 1 || r > m_Records) return;
    m_Bytes[size_t(r - 1) / 8] &= uint8_t(~(1u << ((r - 1) % 8)));
}

void TRecordBitmap::SetAll() {
    std::fill(m_Bytes.begin(), m_Bytes.end(), 0xFF);
    ClearTail();
}

void TRecordBitmap::ClearAll() { std::fill(m_Bytes.begin(), m_Bytes.end(), 0); }

void TRecordBitmap::Invert() {
    for (auto& b : m_Bytes) b = uint8_t(~b);
    ClearTail();
}

void TRecordBitmap::And(const TRecordBitmap& other) {
    for (size_t i = 0; i < m_Bytes.size(); ++i) m_Bytes[i] &= i < other.m_Bytes.size() ? other.m_Bytes[i] : 0;
}

int32_t TRecordBitmap::Count() const {
    int32_t n = 0;
    for (uint8_t b : m_Bytes) n += std::popcount(b);
    return n;
}

int32_t TRecordBitmap::Rank(int32_t r) const {
    if (r < 1) return 0;
    r = std::min(r, m_Records);
    int32_t n = 0;
    size_t full = size_t(r) / 8;
    for (size_t i = 0; i < full; ++i) n += std::popcount(m_Bytes[i]);
    if (r % 8) n += std::popcount(uint8_t(m_Bytes[full] & ((1u << (r % 8)) - 1)));
    return n;
}

int32_t TRecordBitmap::NextSet(int32_t r) const {
    if (r < 1) r = 1;
    while (r <= m_Records) {
        size_t byte = size_t(r - 1) / 8;
        uint8_t bits = uint8_t(m_Bytes[byte] >> ((r - 1) % 8));
        if (bits) return r + std::countr_zero(bits);
        r = int32_t(byte + 1) * 8 + 1;
    }
    return 0;
}

int32_t TRecordBitmap::PrevSet(int32_t r) const {
    if (r > m_Records) r = m_Records;
    while (r >= 1) {
        size_t byte = size_t(r - 1) / 8;
        int bit = (r - 1) % 8;
        uint8_t bits = uint8_t(m_Bytes[byte] & ((2u << bit) - 1));
        if (bits) return int32_t(byte) * 8 + 8 - std::countl_zero(bits);
        r = int32_t(byte) * 8;
    }
    return 0;
}

}  // namespace veltra
