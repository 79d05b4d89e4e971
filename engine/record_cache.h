// The record buffer cache of a data file: TRecord buffers in most-recently-used
// order with an index by physical record number.
//
// A buffer is pinned while an operation uses it and is never evicted then; a
// dirty buffer is written before its slot is reused. Capacity is
// min(kRecordCacheBytes / RecordSize, kMaxCachedRecords) buffers.
//
// Nothing here walks the whole cache per operation: each buffer knows its
// place in the list, and the buffers marked by a batch read, pinned since the
// last UnpinAll, and pinned since the last WriteDirty (the only ones that can
// have been made dirty: a buffer is changed only while pinned) are kept in
// lists of their own.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>
#include <vector>

namespace veltra {

class TDataFile;

constexpr uint16_t kMaxPins = 64;
// Record images the cache may hold: 16 MB, so that the records of a log of
// some hundred thousand tickets stay in memory once read.
constexpr size_t kRecordCacheBytes = size_t(16) << 20;
constexpr size_t kMaxCachedRecords = 1 << 20;

class TRecord {
public:
    TRecord(TDataFile* owner, int recordSize) : Owner(owner), Buffer(size_t(recordSize), 0) {}

    TDataFile* Owner;
    bool Dirty = false;
    uint16_t PinCount = 0;
    int32_t PhysicalNo = 0;  // 0 = unused buffer
    std::vector<uint8_t> Buffer;
    bool Marked = false;  // loaded by the batch read in progress

    uint8_t Status() const { return Buffer[0]; }
    int32_t Link() const;
    int32_t RecordID() const;
    void SetStatus(uint8_t status) { Buffer[0] = status; }
    void SetLink(int32_t link);
    void SetRecordID(int32_t id);
    bool IsDeleted() const { return Buffer[0] != 0; }
    void Unpin() {
        if (PinCount > 0) --PinCount;
    }

private:
    friend class TRecordCache;
    std::list<std::unique_ptr<TRecord>>::iterator m_Self;  // place in the cache list
    bool m_InPinned = false;   // listed as pinned since the last UnpinAll
    bool m_InTouched = false;  // listed as pinned since the last WriteDirty
};

class TRecordCache {
public:
    // Writes the given buffers (dirty, unpinned, sorted by number) to disk.
    using TWriter = std::function<void(const std::vector<TRecord*>&)>;

    TRecordCache(TDataFile* owner, TWriter writer) : m_Owner(owner), m_Writer(std::move(writer)) {}

    // Sizes the cache for the record size (also forgets every buffer);
    // `bytes` 0 means kRecordCacheBytes.
    void Configure(int recordSize, size_t bytes = 0);
    size_t Capacity() const { return m_Capacity; }
    size_t Size() const { return m_List.size(); }

    // The buffer holding slot n, or nullptr. Does not change the order.
    TRecord* Find(int32_t n) const;
    // Moves a buffer to the front of the list.
    void Touch(TRecord* r);
    // Pins a buffer (8962 above 64 pins is the caller's check).
    void Pin(TRecord* r);
    // Marks a buffer as loaded by the batch read in progress.
    void Mark(TRecord* r);
    // A clean, unused buffer at the front: new while below capacity, else the
    // least recently used clean, unpinned, unmarked one. When none is free the
    // dirty unpinned buffers are written and the search repeated — unless
    // dirty buffers are held (a change in progress), when a new buffer is
    // added past the capacity instead. Returns nullptr when there is none.
    TRecord* TakeBuffer();
    // A clean, unused buffer for a read-ahead neighbour: new while below
    // capacity, else a reused clean one; nullptr when there is none. Never
    // writes: the block being merged was read before such a write and would
    // put an old image of the written record back into the cache.
    TRecord* TakeFreeBuffer();
    // While set, no dirty buffer is written: a change in progress must not
    // reach the file half-done.
    void SetHoldDirty(bool hold) { m_HoldDirty = hold; }
    // Forgets one buffer of this cache (used to drop slots appended by an
    // abandoned change).
    void Remove(TRecord* r);
    // Gives a buffer a slot number (registering it for Find).
    void Assign(TRecord* r, int32_t n);
    // Writes every dirty, unpinned buffer, sorted by number.
    void WriteDirty();
    // Forgets clean, unpinned, unmarked buffers other than `keep`, least
    // recently used first, while the cache holds more than its capacity.
    void Trim(const TRecord* keep);
    void ClearMarks();
    void UnpinAll();
    void Clear();
    // Visits buffers in most-recently-used order.
    template <class F>
    void ForEach(F f) const {
        for (auto& r : m_List) f(*r);
    }

private:
    TRecord* ReuseClean();
    TRecord* AddNew();
    void Unlist(TRecord* r);  // before a buffer is destroyed
    void Erase(TRecord* r);
    using TList = std::list<std::unique_ptr<TRecord>>;
    TDataFile* m_Owner;
    TWriter m_Writer;
    int m_RecordSize = 0;
    size_t m_Capacity = 0;
    bool m_HoldDirty = false;
    TList m_List;
    std::unordered_map<int32_t, TRecord*> m_ByNumber;
    std::vector<TRecord*> m_Marked, m_Pinned, m_Touched;
};

}  // namespace veltra
