// The record buffer cache of a data file: TRecord buffers in most-recently-used
// order with an index by physical record number.
//
// A buffer is pinned while an operation uses it and is never evicted then; a
// dirty buffer is written before its slot is reused. Capacity is
// min(131070 / RecordSize, 65535) buffers, about 128 KB of record images.
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
};

class TRecordCache {
public:
    // Writes the given buffers (dirty, unpinned, sorted by number) to disk.
    using TWriter = std::function<void(const std::vector<TRecord*>&)>;

    TRecordCache(TDataFile* owner, TWriter writer) : m_Owner(owner), m_Writer(std::move(writer)) {}

    void Configure(int recordSize);  // also forgets every buffer
    size_t Capacity() const { return m_Capacity; }
    size_t Size() const { return m_List.size(); }

    // The buffer holding slot n, or nullptr. Does not change the order.
    TRecord* Find(int32_t n) const;
    // Moves a buffer to the front of the list.
    void Touch(TRecord* r);
    // Pins a buffer (8962 above 64 pins, raised by the caller's check).
    // A clean, unused buffer at the front: new while below capacity, else the
    // least recently used clean, unpinned, unmarked one. When none is free the
    // dirty unpinned buffers are written and the search repeated — unless
    // dirty buffers are held (a change in progress), when a new buffer is
    // added past the capacity instead. Returns nullptr when there is none.
    TRecord* TakeBuffer();
    // While set, no dirty buffer is written: a change in progress must not
    // reach the file half-done.
    void SetHoldDirty(bool hold) { m_HoldDirty = hold; }
    // Forgets one buffer (used to drop slots appended by an abandoned change).
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
    using TList = std::list<std::unique_ptr<TRecord>>;
    TDataFile* m_Owner;
    TWriter m_Writer;
    int m_RecordSize = 0;
    size_t m_Capacity = 0;
    bool m_HoldDirty = false;
    TList m_List;
    std::unordered_map<int32_t, TList::iterator> m_ByNumber;
    std::unordered_map<const TRecord*, TList::iterator> m_Position;
};

}  // namespace veltra
