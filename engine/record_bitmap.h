// A bitmap over physical record numbers: bit r (from 1) is bit (r-1) mod 8,
// least significant first, of byte (r-1) div 8. Bitmaps sized for N records
// are N div 8 + 1 bytes long. Used for the live records, a range, each filter
// and the visible set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace veltra {

class TRecordBitmap {
public:
    TRecordBitmap() = default;
    explicit TRecordBitmap(int32_t records) { Resize(records); }

    // Sizes for records 1..n; new bits are clear, bits beyond n are dropped.
    void Resize(int32_t records);
    int32_t Records() const { return m_Records; }
    size_t ByteLength() const { return m_Bytes.size(); }
    const uint8_t* Bytes() const { return m_Bytes.data(); }

    bool Test(int32_t r) const;
    // Setting a bit beyond the size grows the bitmap.
    void Set(int32_t r);
    void Clear(int32_t r);
    void SetAll();
    void ClearAll();
    // Flips every bit of records 1..Records().
    void Invert();
    void And(const TRecordBitmap& other);
    int32_t Count() const;
    // Set bits among records 1..r.
    int32_t Rank(int32_t r) const;
    // The first set bit at or after r / at or before r; 0 when none.
    int32_t NextSet(int32_t r) const;
    int32_t PrevSet(int32_t r) const;

    bool operator==(const TRecordBitmap& o) const = default;

private:
    void ClearTail();
    int32_t m_Records = 0;
    std::vector<uint8_t> m_Bytes = std::vector<uint8_t>(1, 0);
};

}  // namespace veltra
