#include "index_page.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "byte_order.h"

namespace veltra {

namespace {

struct TPrefixTrail {
    int P = 0;
    int T = 0;
};

// Leading bytes that a and b share, at most n. Every entry of every page
// written is measured this way, so it compares eight bytes at a time.
int CommonPrefix(const uint8_t* a, const uint8_t* b, int n) {
    int i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            uint64_t x, y;
            std::memcpy(&x, a + i, 8);
            std::memcpy(&y, b + i, 8);
            if (x != y) return i + std::countr_zero(x ^ y) / 8;
        }
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Zero bytes ending just before key[end], counting down to key[from] at most.
int ZeroRun(const uint8_t* key, int from, int end) {
    int pos = end;
    if constexpr (std::endian::native == std::endian::little) {
        while (pos - 8 >= from) {
            uint64_t w;
            std::memcpy(&w, key + pos - 8, 8);
            if (w != 0) return end - pos + std::countl_zero(w) / 8;
            pos -= 8;
        }
    }
    while (pos - 1 >= from && key[pos - 1] == 0) --pos;
    return end - pos;
}

// Shared prefix with the previous key and the dropped zero run of `key`, as
// the format's compression mode defines them.
TPrefixTrail Compress(const TPageFormat& f, const uint8_t* prev, const uint8_t* key) {
    const int k = f.KeySize;
    const int end = k - (f.RecordIdSuffix ? 4 : 0);  // zeros are counted before here
    TPrefixTrail pt;
    if ((f.Compression == 1 || f.Compression == 3) && prev) {
        pt.P = CommonPrefix(prev, key, k);
        if (f.Compression == 3) pt.P = std::min(pt.P, 255);
    }
    if (f.Compression == 2 || f.Compression == 3) {
        int from = pt.P;
        bool allowed = f.Compression == 2 || !f.RecordIdSuffix || k - pt.P >= 5;
        if (allowed && from < end) {
            const int t = ZeroRun(key, from, end);
            pt.T = f.Compression == 3 ? std::min(t, 255) : t;
        }
    }
    return pt;
}

}  // namespace

TPage::TPage(int slot, int32_t offset, const TPageFormat& format)
    : Slot(slot), Offset(offset), Format(format) {}

int64_t TPage::Total() const {
    if (IsLeaf()) return Count();
    int64_t sum = 0;
    for (int32_t c : m_Counts) sum += c;
    return sum;
}

int TPage::EntrySize(int i) const {
    const int k = Format.KeySize;
    if (!IsLeaf()) return k + 8;
    if (Format.Compression == 0) return k + 4;
    TPrefixTrail pt = Compress(Format, i > 0 ? Key(i - 1) : nullptr, Key(i));
    return k - pt.P - pt.T + 6;  // two bytes of P and/or T, four of record number
}

void TPage::RecomputePacked() {
    m_Packed = 0;
    if (!Compressed()) return;
    for (int i = 0; i < Count(); ++i) m_Packed += EntrySize(i);
}

void TPage::Insert(int i, const uint8_t* key, int32_t link, int32_t count) {
    const size_t k = size_t(Format.KeySize);
    bool compressed = Compressed();
    if (compressed && i < Count()) m_Packed -= EntrySize(i);
    m_Keys.insert(m_Keys.begin() + ptrdiff_t(size_t(i) * k), key, key + k);
    m_Links.insert(m_Links.begin() + i, link);
    m_Counts.insert(m_Counts.begin() + i, count);
    if (compressed) {
        m_Packed += EntrySize(i);
        if (i + 1 < Count()) m_Packed += EntrySize(i + 1);
    }
}

void TPage::Erase(int i) {
    const size_t k = size_t(Format.KeySize);
    bool compressed = Compressed();
    if (compressed) {
        m_Packed -= EntrySize(i);
        if (i + 1 < Count()) m_Packed -= EntrySize(i + 1);
    }
    m_Keys.erase(m_Keys.begin() + ptrdiff_t(size_t(i) * k), m_Keys.begin() + ptrdiff_t(size_t(i + 1) * k));
    m_Links.erase(m_Links.begin() + i);
    m_Counts.erase(m_Counts.begin() + i);
    if (compressed && i < Count()) m_Packed += EntrySize(i);
}

void TPage::SetKey(int i, const uint8_t* key) {
    std::memcpy(&m_Keys[size_t(i) * size_t(Format.KeySize)], key, size_t(Format.KeySize));
    RecomputePacked();
}

void TPage::MoveTail(int from, TPage& to) {
    const size_t k = size_t(Format.KeySize);
    to.m_Keys.insert(to.m_Keys.end(), m_Keys.begin() + ptrdiff_t(size_t(from) * k), m_Keys.end());
    to.m_Links.insert(to.m_Links.end(), m_Links.begin() + from, m_Links.end());
    to.m_Counts.insert(to.m_Counts.end(), m_Counts.begin() + from, m_Counts.end());
    m_Keys.resize(size_t(from) * k);
    m_Links.resize(size_t(from));
    m_Counts.resize(size_t(from));
    RecomputePacked();
    to.RecomputePacked();
}

void TPage::MoveHeadTo(int n, TPage& to) {
    const size_t k = size_t(Format.KeySize);
    to.m_Keys.insert(to.m_Keys.end(), m_Keys.begin(), m_Keys.begin() + ptrdiff_t(size_t(n) * k));
    to.m_Links.insert(to.m_Links.end(), m_Links.begin(), m_Links.begin() + n);
    to.m_Counts.insert(to.m_Counts.end(), m_Counts.begin(), m_Counts.begin() + n);
    m_Keys.erase(m_Keys.begin(), m_Keys.begin() + ptrdiff_t(size_t(n) * k));
    m_Links.erase(m_Links.begin(), m_Links.begin() + n);
    m_Counts.erase(m_Counts.begin(), m_Counts.begin() + n);
    RecomputePacked();
    to.RecomputePacked();
}

void TPage::PrependAll(TPage& from) {
    m_Keys.insert(m_Keys.begin(), from.m_Keys.begin(), from.m_Keys.end());
    m_Links.insert(m_Links.begin(), from.m_Links.begin(), from.m_Links.end());
    m_Counts.insert(m_Counts.begin(), from.m_Counts.begin(), from.m_Counts.end());
    from.Clear();
    RecomputePacked();
}

void TPage::Clear() {
    m_Keys.clear();
    m_Links.clear();
    m_Counts.clear();
    m_Packed = 0;
}

bool TPage::Overfull() const {
    if (!IsLeaf()) return Count() > Format.InternalLimit();
    if (Format.Compression == 0) return Count() > Format.LeafLimit();
    return m_Packed > kPageSpace;
}

bool TPage::Underfull() const {
    int limit = IsLeaf() ? Format.LeafLimit() : Format.InternalLimit();
    return Count() < limit / 2;
}

void TPage::Encode(uint8_t* image) const {
    std::memset(image, 0, kPageSize);
    image[0] = Kind;
    PutI16(image + 1, int16_t(Freed ? 0 : Count()));
    PutI32(image + 3, Prev);
    PutI32(image + 7, Next);
    PutI16(image + 11, int16_t(Freed ? 0 : PackedSize()));
    if (Freed) return;
    const int k = Format.KeySize;
    uint8_t* out = image + kPageHeaderSize;
    for (int i = 0; i < Count(); ++i) {
        const uint8_t* key = Key(i);
        if (!IsLeaf()) {
            std::memcpy(out, key, size_t(k));
            PutI32(out + k, Link(i));
            PutI32(out + k + 4, SubCount(i));
            out += k + 8;
            continue;
        }
        if (Format.Compression == 0) {
            std::memcpy(out, key, size_t(k));
            PutI32(out + k, Link(i));
            out += k + 4;
            continue;
        }
        TPrefixTrail pt = Compress(Format, i > 0 ? Key(i - 1) : nullptr, key);
        if (Format.Compression == 1) {
            PutU16(out, uint16_t(pt.P));
            out += 2;
        } else if (Format.Compression == 2) {
            PutU16(out, uint16_t(pt.T));
            out += 2;
        } else {
            out[0] = uint8_t(pt.P);
            out[1] = uint8_t(pt.T);
            out += 2;
        }
        const int end = k - (Format.RecordIdSuffix ? 4 : 0);
        if (pt.T == 0) {
            std::memcpy(out, key + pt.P, size_t(k - pt.P));
            out += k - pt.P;
        } else {
            int middle = end - pt.T - pt.P;
            std::memcpy(out, key + pt.P, size_t(middle));
            std::memcpy(out + middle, key + end, size_t(k - end));
            out += middle + (k - end);
        }
        PutI32(out, Link(i));
        out += 4;
    }
}

bool TPage::Decode(const uint8_t* image) {
    Clear();
    Kind = image[0];
    int count = GetI16(image + 1);
    Prev = GetI32(image + 3);
    Next = GetI32(image + 7);
    int packed = GetI16(image + 11);
    Freed = false;
    if (Kind > pkRootLeaf || count < 0) return false;
    const int k = Format.KeySize;
    const uint8_t* in = image + kPageHeaderSize;
    const uint8_t* limit = image + kPageSize;
    std::vector<uint8_t> key(size_t(k), 0);
    if (!IsLeaf() || Format.Compression == 0) {
        int width = IsLeaf() ? k + 4 : k + 8;
        int maxCount = IsLeaf() ? Format.LeafLimit() : Format.InternalLimit();
        if (count > maxCount || count * width > kPageSpace) return false;
        for (int i = 0; i < count; ++i, in += width) {
            int32_t link = GetI32(in + k);
            int32_t sub = IsLeaf() ? 0 : GetI32(in + k + 4);
            if (link <= 0 || (!IsLeaf() && sub <= 0)) return false;
            Insert(i, in, link, sub);
        }
        return true;
    }
    if (packed < 0 || packed > kPageSpace) return false;
    limit = image + kPageHeaderSize + packed;
    const int end = k - (Format.RecordIdSuffix ? 4 : 0);
    for (int i = 0; i < count; ++i) {
        if (limit - in < 2) return false;
        int p = 0, t = 0;
        if (Format.Compression == 1) {
            p = GetU16(in);
        } else if (Format.Compression == 2) {
            t = GetU16(in);
        } else {
            p = in[0];
            t = in[1];
        }
        in += 2;
        if (p > k || (i == 0 && p != 0)) return false;
        if (t > 0 && (t > end - p || (Format.Compression == 3 && Format.RecordIdSuffix && k - p < 5)))
            return false;
        int stored = k - p - t;
        if (limit - in < stored + 4) return false;
        // key[0..p) is still the previous key's prefix.
        if (t == 0) {
            std::memcpy(key.data() + p, in, size_t(stored));
        } else {
            int middle = end - t - p;
            std::memcpy(key.data() + p, in, size_t(middle));
            std::memset(key.data() + p + middle, 0, size_t(t));
            std::memcpy(key.data() + end, in + middle, size_t(k - end));
        }
        in += stored;
        int32_t link = GetI32(in);
        in += 4;
        if (link <= 0) return false;
        Insert(i, key.data(), link, 0);
    }
    // The stored packed size must be exactly what the entries occupy. The
    // page then keeps its own measure, which is what the encoder will write.
    if (in != limit) return false;
    RecomputePacked();
    return true;
}

}  // namespace veltra
