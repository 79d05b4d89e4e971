// Index pages: the 4096-byte blocks of the B+-trees, unpacked in memory.
//
// Page header (13 bytes), then packed entries:
//   0   uint8   kind: 0 root of a multi-level tree, 1 internal, 2 leaf,
//               3 root that is also the only leaf
//   1   int16   number of entries (0 for a page on the free list)
//   3   int32   previous page on the same level, 0 = none
//   7   int32   next page on the same level (free list: next free page)
//   11  int16   packed size of the entries of a compressed leaf, else 0
//
// Internal entries (never compressed): key (K) + child offset (4) + number of
// leaf entries in the child's subtree (4). The key is the smallest key of the
// child's subtree.
//
// Leaf entries end with the 4-byte record number; the key is stored by the
// index's compression mode (P = bytes shared with the previous key on the
// page, 0 for the first; T = zero bytes dropped from the end):
//   0 none      key (K)                                   K + 4
//   1 leading   P (2) + key[P..K)                         K - P + 6
//   2 trailing  T (2) + key[0..K-T)                       K - T + 6
//   3 both      P (1) + T (1) + key[P..K-T)               K - P - T + 6
// Mode 3 caps P and T at 255 and counts T only within key[P..K). In a
// non-unique secondary index the last four key bytes (the record ID) are
// never dropped: T counts zero bytes ending just before them, and they are
// stored after the middle bytes; in mode 3 nothing is dropped when fewer than
// five bytes follow the prefix.
//
// Capacity: an uncompressed leaf holds floor(4083 / (K + 6)) entries, an
// internal page floor(4083 / (K + 10)); a compressed leaf is full when its
// packed size passes 4083 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace veltra {

constexpr int kPageSize = 4096;
constexpr int kPageHeaderSize = 13;
constexpr int kPageSpace = kPageSize - kPageHeaderSize;  // 4083

enum TPageKind : uint8_t { pkRoot = 0, pkInternal = 1, pkLeaf = 2, pkRootLeaf = 3 };

// How the entries of one index's pages are laid out.
struct TPageFormat {
    int KeySize = 0;
    uint8_t Compression = 0;
    bool RecordIdSuffix = false;

    int LeafLimit() const { return kPageSpace / (KeySize + 6); }
    int InternalLimit() const { return kPageSpace / (KeySize + 10); }
};

class TPage {
public:
    TPage(int slot, int32_t offset, const TPageFormat& format);

    int Slot;
    int32_t Offset;
    TPageFormat Format;
    uint8_t Kind = pkRootLeaf;
    int32_t Prev = 0;
    int32_t Next = 0;
    int32_t Parent = 0;  // as found on the last descent
    bool Changed = false;
    bool Freed = false;
    uint16_t Pins = 0;
    // Kept by the index file's page cache: the list in which a page notes
    // itself when it is pinned, so that unpinning every page visits only the
    // pages pinned since the last time (nullptr: a page of no cache).
    std::vector<std::weak_ptr<TPage>>* PinLog = nullptr;
    bool InPinLog = false;

    bool IsLeaf() const { return Kind == pkLeaf || Kind == pkRootLeaf; }
    bool IsRoot() const { return Kind == pkRoot || Kind == pkRootLeaf; }
    bool Compressed() const { return IsLeaf() && Format.Compression != 0; }
    int Count() const { return int(m_Links.size()); }
    const uint8_t* Key(int i) const { return &m_Keys[size_t(i) * size_t(Format.KeySize)]; }
    int32_t Link(int i) const { return m_Links[size_t(i)]; }
    int32_t SubCount(int i) const { return m_Counts[size_t(i)]; }
    void SetLink(int i, int32_t link) { m_Links[size_t(i)] = link; }
    void SetSubCount(int i, int32_t n) { m_Counts[size_t(i)] = n; }
    void AddSubCount(int i, int32_t delta) { m_Counts[size_t(i)] += delta; }
    // Leaf entries for a leaf, the sum of the entries' counts otherwise.
    int64_t Total() const;

    void Insert(int i, const uint8_t* key, int32_t link, int32_t count = 0);
    void Erase(int i);
    void SetKey(int i, const uint8_t* key);
    // Moves entries [from, Count) to the end of `to`.
    void MoveTail(int from, TPage& to);
    // Moves entries [0, n) to the end of `to`.
    void MoveHeadTo(int n, TPage& to);
    // Moves all entries of `from` to the front of this page.
    void PrependAll(TPage& from);
    void Clear();

    // Packed size of the entries as they would be stored (compressed leaves);
    // 0 for other pages.
    int PackedSize() const { return Compressed() ? m_Packed : 0; }
    // Entries over the page's capacity.
    bool Overfull() const;
    bool Underfull() const;  // fewer than half the limit (uncompressed pages)

    // Serialises into a 4096-byte image; a freed page keeps only its header.
    void Encode(uint8_t* image) const;
    // Parses a 4096-byte image. Returns false when any count, size or offset in
    // it is impossible for this format (the caller reports the corruption).
    bool Decode(const uint8_t* image);

private:
    int EntrySize(int i) const;  // packed size of entry i after entry i-1
    void RecomputePacked();
    int m_Packed = 0;
    std::vector<uint8_t> m_Keys;
    std::vector<int32_t> m_Links;
    std::vector<int32_t> m_Counts;
};

}  // namespace veltra
