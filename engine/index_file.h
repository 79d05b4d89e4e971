// TIndexFile: the index file of a table (format in index_format.h, pages in
// index_page.h, keys in index_key.h): its header, a page cache per index, the
// B+-tree operations and the table cursor.
//
// Cursor. The cursor stands in the current index (a slot 0..31) or, in
// natural order (slot 255, or slot 0 of a table without primary index), on
// physical record numbers. It is in one of four states: no position (empty
// index or range), on an entry, beginning-of-file, end-of-file. Subtree counts
// in internal entries make the logical position of an entry, positioning by
// number and range sizes one root-to-leaf descent.
//
// Bitmap mode. In natural order, and in an index while a filter is active, the
// cursor shows only records whose bit is set in the visible bitmap: the live
// records AND the range AND every active filter.
//
// Changes. InsertKey, DeleteKey and ReplaceKey run inside a TIndexChange
// scope (their own, or an enclosing one opened by the caller for a whole
// record). Until the outermost scope commits, changed pages are never written
// (the cache grows past its size instead), and a scope that ends without
// Commit puts every changed page and the header back as they were, so a failed
// record operation leaves the index exactly as before.
//
// Other processes. A page read from disk needs the table's read lock. When
// taking it reveals another process's change, the data file re-reads
// everything and repositions the cursor, and the cursor operation in progress
// starts over.
//
// Used by one thread at a time.
#pragma once

#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "file_handler.h"
#include "index_filter.h"
#include "index_format.h"
#include "index_key.h"
#include "index_page.h"
#include "lock_protocol.h"
#include "record_bitmap.h"

namespace veltra {

class TDataFile;
class TIndexFile;

// Pages cached per index: enough for every page of the indexes of a log of
// some hundred thousand tickets (4 MB of page images per index at most).
constexpr int kPageCacheSize = 1024;
constexpr int kMaxTreeDepth = 64;
constexpr int kMaxFilters = 128;

// Keeps a cached page pinned while held.
class TPageRef {
public:
    TPageRef() = default;
    explicit TPageRef(std::shared_ptr<TPage> page);
    TPageRef(TPageRef&& o) noexcept : m_Page(std::move(o.m_Page)) {}
    TPageRef& operator=(TPageRef&& o) noexcept;
    TPageRef(const TPageRef& o) : TPageRef(o.m_Page) {}
    TPageRef& operator=(const TPageRef& o) { return *this = TPageRef(o.m_Page); }
    ~TPageRef();

    TPage* operator->() const { return m_Page.get(); }
    TPage& operator*() const { return *m_Page; }
    TPage* get() const { return m_Page.get(); }
    explicit operator bool() const { return m_Page != nullptr; }
    void Reset();

private:
    std::shared_ptr<TPage> m_Page;
};

// A scope of index changes; see "Changes" above.
class TIndexChange {
public:
    explicit TIndexChange(TIndexFile& index);
    ~TIndexChange();
    void Commit();
    TIndexChange(const TIndexChange&) = delete;
    TIndexChange& operator=(const TIndexChange&) = delete;

private:
    TIndexFile& m_Index;
    bool m_Done = false;
};

class TIndexFile : public TFileHandler {
public:
    explicit TIndexFile(TDataFile& owner);
    ~TIndexFile() override;

    // ".IDX" replaces any other extension.
    std::string ExpandFileName(const std::string& name) const override;
    // Opens the file with the data file's sharing settings and checks the
    // header (12035 wrong version; 8961 impossible offsets, counts or
    // descriptors), selects slot 0 and puts the cursor at beginning-of-file.
    // Needs the data file's descriptors.
    void Open() override;
    // Forgets pages, filters, bitmaps and the cursor, and closes the file.
    void Close() override;

    // Writes the header of a new, empty index file: zero except version 3,
    // end offset 4096 and slot 31.
    void CreateHeader();
    // The image of a new, empty header before its first write (change
    // counter 0), for code that creates tables.
    static std::array<uint8_t, kIndexBlockSize> NewHeaderImage();

    void ReadHeader();
    // Writes the header when forced or changed; increments the counter first.
    void WriteHeader(bool force);
    // True (after re-reading and checking the header) when the counter on
    // disk differs from the cached one.
    bool HeaderChanged();

    int IndexCount() const { return m_Header[ih::SecondaryCount]; }
    TIndexDescriptor ReadDescriptor(int slot) const;
    bool HasPrimaryIndex() const { return m_Header[ih::NoPrimaryIndex] == 0; }
    int32_t ChangeCount() const;
    int32_t EndOffset() const;
    int32_t RecordCount() const;
    void IncrementRecordCount();
    void DecrementRecordCount();
    void SetRecordCount(int32_t count);
    const std::array<uint8_t, kIndexBlockSize>& HeaderBytes() const { return m_Header; }

    // ---- indexes and keys
    // Makes a slot current (0..31, or 255 for natural order), cancels the
    // range and puts the cursor at beginning-of-file.
    void SelectIndex(int slot);
    // Secondary index by name without regard to case; empty or unknown: slot 0.
    void SelectIndexByName(const std::string& name);
    int CurrentSlot() const { return m_Slot; }
    bool NaturalOrder() const { return m_Slot == kNaturalOrderSlot || (m_Slot == 0 && !HasPrimaryIndex()); }
    const TKeyLayout& Layout(int slot) const { return m_Layouts[size_t(slot)]; }
    const TKeyLayout& CurrentLayout() const;
    int CompareKeys(const uint8_t* a, const uint8_t* b, int length) const;
    // Name of a slot as messages show it: "Primary" for slot 0.
    std::string IndexName(int slot) const;

    // ---- changes (current index, or an explicit slot)
    // 9729 naming the index when the slot is the primary or a unique index
    // and holds the key.
    void CheckKeyViolation(const uint8_t* key) { CheckKeyViolation(m_Slot, key); }
    void CheckKeyViolation(int slot, const uint8_t* key);
    bool KeyExists(int slot, const uint8_t* key);
    void InsertKey(const uint8_t* key, int32_t recordNo) { InsertKey(m_Slot, key, recordNo); }
    void InsertKey(int slot, const uint8_t* key, int32_t recordNo);
    // 8708 naming the index when the key is missing.
    void DeleteKey(const uint8_t* key) { DeleteKey(m_Slot, key); }
    void DeleteKey(int slot, const uint8_t* key);
    void ReplaceKey(int slot, const uint8_t* oldKey, const uint8_t* newKey, int32_t recordNo);

    // ---- page cache
    // Writes changed, unpinned pages of every slot, sorted by offset, each run
    // of adjacent pages with one write.
    void FlushPages();
    // True when a change scope grew a page cache past its size.
    bool OverCapacity() const;
    // Drops clean, unpinned pages, least recently used first, from every page
    // cache that a change scope grew past its size.
    void TrimPages();
    // Forgets every cached page (changed ones included) and the cursor's page;
    // the next cursor operation finds the cursor's key again.
    void InvalidatePages();
    void UnpinAllPages();
    // A pinned page of a slot (8965 for an impossible offset or content).
    TPageRef ReadPage(int slot, int32_t offset);
    // Pages of a slot's free list, in list order (8965 on a cycle).
    std::vector<int32_t> FreeList(int slot);
    uint64_t PageReads() const { return m_PageReads; }
    uint64_t PageWrites() const { return m_PageWrites; }

    // ---- locks (lock_protocol.h); idempotent, false when not obtained
    bool AcquireReadLock() { return m_Locks.AcquireRead(); }
    bool ReleaseReadLock() { return m_Locks.ReleaseRead(); }
    bool AcquireWriteLock() { return m_Locks.AcquireWrite(); }
    bool ReleaseWriteLock() { return m_Locks.ReleaseWrite(); }
    bool HasReadLock() const { return m_Locks.HasReadLock(); }
    bool HasWriteLock() const { return m_Locks.HasWriteLock(); }

    // ---- cursor
    void First();  // to the first visible entry (beginning-of-file when none)
    void Last();
    // Moves by n visible entries; running out sets beginning- or end-of-file.
    void MoveBy(int64_t n);
    // Positions on the first entry equal to `key` over `length` bytes (found),
    // else on the first greater entry when `after` (end-of-file when none),
    // else on the last smaller one (the first entry when every entry is
    // greater).
    bool FindNearest(const uint8_t* key, bool after, int length);
    // Exact search over the whole key.
    bool FindKey(const uint8_t* key);
    // In an index: the n-th visible entry; in natural order: record n, or the
    // next visible record (the previous when none follows).
    void GotoRecordNumber(int64_t n);
    // Physical record number under the cursor, 0 when none.
    int32_t CurrentRecord() const;
    // 1-based position among the visible entries, 0 when none.
    int64_t RecordNumber();
    // How many entries from the current one, in the direction, carry
    // consecutive record numbers within the current leaf page (natural order:
    // consecutive visible records), at most `limit`.
    int32_t ConsecutiveRecords(int32_t limit, int direction) const;
    // The record numbers of the entries after the current one, in the
    // direction, within the current leaf page and the range, visible ones
    // only, at most `limit`, in the order the cursor will visit them (empty
    // in natural order, where the consecutive ones are all there is, and when
    // the cursor stands on no entry). The data file reads the records of
    // these entries in the read phase that reads the current one, so that a
    // scan in index order takes one read phase per leaf, not one per record.
    void UpcomingRecords(int32_t limit, int direction, std::vector<int32_t>& records) const;
    int64_t VisibleCount();
    // The physical record number of the n-th visible entry (1-based) of the
    // current index, range and filters, without moving the cursor: one
    // descent, or a lookup in the view list (below) and one descent; in
    // natural order a lookup in the view list. 0 when there is no such row.
    int32_t RecordAtRow(int64_t n);
    bool Bof() const { return m_Bof; }
    bool Eof() const { return m_Eof; }
    bool OnEntry() const { return !m_Bof && !m_Eof && m_OnEntry; }
    // Beginning-of-file.
    void ResetCursor();
    // Key of the current entry (KeySize bytes); empty when none.
    std::vector<uint8_t> CurrentKey() const;

    // ---- the view list
    // In bitmap mode the visible rows are not contiguous in the tree, so
    // positions among them come from a list built once: in an index, the
    // logical positions of the visible entries in index order; in natural
    // order, the visible record numbers. RecordNumber is then a binary search,
    // GotoRecordNumber and RecordAtRow a lookup and one descent. The list is
    // built by the first operation that needs it (one walk over the range)
    // and dropped whenever what it reflects changes: any change of a tree
    // page (this process's insertions, modifications and deletions, and
    // rolled-back changes), the visible bitmap (filters added, activated,
    // deactivated or removed, records re-evaluated), the range, the selected
    // index, and pages forgotten after another process's change.
    bool ViewBuilt() const { return m_ViewBuilt; }

    // ---- ranges
    void SetRangeStart(const uint8_t* key);
    void SetRangeEnd(const uint8_t* key);
    void ApplyRange();
    void CancelRange();
    bool RangeActive() const { return m_RangeActive; }
    const std::vector<uint8_t>& RangeStartKey() const { return m_RangeStart; }
    const std::vector<uint8_t>& RangeEndKey() const { return m_RangeEnd; }
    // Entries of the current index (or of `slot`) whose keys lie between low
    // and high over `length` bytes, inclusive: one descent for each end.
    int64_t CountKeysInRange(const uint8_t* low, const uint8_t* high, int length) {
        return CountKeysInRange(m_Slot, low, high, length);
    }
    int64_t CountKeysInRange(int slot, const uint8_t* low, const uint8_t* high, int length);
    // Sets the bit of every record whose key lies between low and high.
    void MarkKeysInRange(const uint8_t* low, const uint8_t* high, int length, TRecordBitmap& bitmap) {
        MarkKeysInRange(m_Slot, low, high, length, bitmap);
    }
    void MarkKeysInRange(int slot, const uint8_t* low, const uint8_t* high, int length, TRecordBitmap& bitmap);
    // Entries in a slot's whole tree.
    int64_t EntryCount(int slot) {
        return CursorOperation([&] { return TreeTotal(slot); }, false);
    }

    // ---- bitmaps and filters
    bool BitmapMode() const;
    const TRecordBitmap& VisibleBitmap() const { return m_Visible; }
    const TRecordBitmap& LiveBitmap() const { return m_Live; }
    void RecordAdded(int32_t recordNo, const uint8_t* record);
    void RecordRemoved(int32_t recordNo);
    // Filter list; codes: 10051 neither expression nor callback, 9482 more
    // than 128 filters, 10050 unknown handle.
    int AddFilter(std::unique_ptr<TFilterEvaluator> expression, TFilterCallback callback,
                  TFilterHandle& handle);
    int RemoveFilter(TFilterHandle handle);
    int ActivateFilter(TFilterHandle handle);
    int DeactivateFilter(TFilterHandle handle);
    int RefreshFilter(TFilterHandle handle);
    size_t FilterCount() const { return m_Filters.size(); }
    std::vector<TFilter*> Filters() const;
    bool AnyFilterActive() const;

    // ---- change detection support (TDataFile::DetectChanges)
    struct TCursorMemo {
        bool Positioned = false;
        bool Bof = true;
        bool Eof = false;
        std::vector<uint8_t> Key;
        int32_t RecordNo = 0;
    };
    TCursorMemo SaveCursor() const;
    // Rebuilds the bitmaps and range for the re-read table and moves the
    // cursor to the remembered key (nearest match) or record.
    void RestoreCursor(const TCursorMemo& memo);

    // Change scopes (TIndexChange wraps them); used by TDataFile's own scope.
    void BeginChange();
    void EndChange(bool commit);

private:
    friend class TIndexChange;
    friend class TIndexVerifier;
    struct TTableChanged {};  // thrown inside cursor operations, caught by their entry

    struct TSlotCache {
        std::list<std::shared_ptr<TPage>> Pages;  // most recently used first
        std::unordered_map<int32_t, std::list<std::shared_ptr<TPage>>::iterator> ByOffset;
    };
    struct TPathStep {
        int32_t Offset;
        int Pos;  // entry followed, 0-based
    };

    // Header and layouts.
    void ValidateHeader();
    void ReadOpeningHeader();
    void BuildLayouts();
    void MarkHeaderChanged() { m_Header[ih::HeaderChanged] = 1; }
    int32_t Root(int slot) const;
    void SetRoot(int slot, int32_t offset);
    int32_t FreeHead(int slot) const;
    void SetFreeHead(int slot, int32_t offset);
    TPageFormat FormatOf(int slot) const;
    [[noreturn]] void Corrupt() const;
    [[noreturn]] void RaiseEngineErrorForLock() const;

    // Page cache.
    TPageRef FetchPage(int slot, int32_t offset);
    TPageRef NewPage(int slot, uint8_t kind);
    void FreePage(TPage& page);
    void Modify(TPage& page);  // records the pre-image, marks changed
    void Register(int slot, std::shared_ptr<TPage> page);
    void MakeRoom(int slot);
    void CompactPinLog();
    void WritePages(std::vector<TPage*>& pages);
    void EnsureReadLock();

    // Changes.
    void Rollback();

    // Tree.
    int64_t CountTo(int slot, const uint8_t* key, int length, bool inclusive);
    int64_t CountBelow(int slot, const uint8_t* key, int length) { return CountTo(slot, key, length, false); }
    int64_t CountNotAbove(int slot, const uint8_t* key, int length) { return CountTo(slot, key, length, true); }
    // Calls f(recordNo) for the entries at logical positions first..last.
    template <class F>
    void WalkEntries(int slot, int64_t first, int64_t last, F&& f);
    TPageRef LeafAt(int slot, int64_t n, int& pos);
    int UpperBound(const TPage& page, const uint8_t* key, int length, int slot) const;
    int LowerBound(const TPage& page, const uint8_t* key, int length, int slot) const;
    // Descends to the leaf that holds `key` (last entry not greater at each
    // internal page), filling path; returns the leaf.
    TPageRef DescendForKey(int slot, const uint8_t* key, std::vector<TPathStep>& path);
    TPageRef ChildOf(int slot, const TPage& parent, int pos, int depth);
    void FixSeparators(int slot, const std::vector<TPathStep>& path, size_t level, const uint8_t* key);
    void AdjustCounts(int slot, const std::vector<TPathStep>& path, int32_t delta);
    void SplitIfNeeded(int slot, TPageRef page, std::vector<TPathStep>& path);
    void Rebalance(int slot, TPageRef page, std::vector<TPathStep>& path);
    void RemoveChildEntry(int slot, std::vector<TPathStep>& path, size_t level);
    void CollapseRoot(int slot);
    int64_t TreeTotal(int slot);

    // Runs a cursor or tree operation: restarts it when a page read reveals
    // another process's change, ends the read phase it opened, and (for cursor
    // operations) brings a stale cursor back first and remembers where it
    // ended.
    template <class F>
    auto CursorOperation(F&& op, bool cursorOp = true) -> decltype(op());
    void BeginOperation(bool outermost, bool cursorOp);
    void EndOperation(bool outermost, bool success, bool cursorOp);
    void RepositionStale();

    // Cursor.
    void ClearCursor();
    void SetCursor(TPageRef leaf, int pos, int64_t logical);
    // Descends to the entry at 1-based logical position n of the whole index.
    bool SeekLogical(int64_t n);
    bool StepEntry(int direction);    // one entry in index order, false at either end
    bool StepVisible(int direction);  // to the next visible entry within the range
    bool EntryVisible() const;
    void SettleForward();   // skip invisible entries forward, end-of-file at the end
    void SettleBackward();  // skip invisible entries backward, beginning-of-file at the start
    void SetBof();
    void SetEof();
    void SetNatural(int32_t record);
    void ComputeRangePositions();
    void FirstInternal();
    void LastInternal();
    bool FindNearestInternal(const uint8_t* key, bool after, int length);
    void PositionFromMemo(const TCursorMemo& memo);
    void RememberCursorKey();

    // Bitmaps.
    void RebuildBitmaps();
    void BuildLiveBitmap();
    void BuildRangeBitmap();
    void BuildFilterBitmap(TFilter& filter);
    void RecomputeVisible();
    void InvalidateView() {
        m_ViewBuilt = false;
        m_View.clear();
    }
    // Builds the view list when it is not built (inside a cursor operation).
    const std::vector<int32_t>& View();
    int32_t SlotCount() const;  // physical record slots in the data file
    TFilter* FindFilter(TFilterHandle handle);

    TDataFile& m_Owner;
    std::array<uint8_t, kIndexBlockSize> m_Header{};
    std::array<TKeyLayout, kIndexSlotCount> m_Layouts;
    std::array<TSlotCache, kIndexSlotCount> m_Caches;
    // Every cached page whose Changed flag is set is listed here (slot,
    // offset), and every page pinned since the last UnpinAllPages in the pin
    // log, so that a flush and an unpinning after each change look at the
    // pages the change touched, not at the whole cache. Either may also list
    // pages that no longer need it.
    std::set<std::pair<int, int32_t>> m_ChangedPages;
    std::vector<std::weak_ptr<TPage>> m_PinLog;
    TReaderWriterLocks m_Locks{*this};
    uint64_t m_PageReads = 0, m_PageWrites = 0;

    // Change scope.
    int m_ChangeDepth = 0;
    std::optional<std::array<uint8_t, kIndexBlockSize>> m_HeaderBefore;
    std::map<std::pair<int, int32_t>, std::optional<TPage>> m_PagesBefore;

    // Cursor.
    int m_Slot = 0;
    TPageRef m_Leaf;
    int m_Pos = 0;          // 0-based in m_Leaf
    int64_t m_Logical = 0;  // 1-based position in the whole index
    bool m_OnEntry = false;
    bool m_Bof = true;
    bool m_Eof = false;
    bool m_CursorStale = false;  // the tree changed under the cursor
    std::vector<uint8_t> m_CursorKey;
    int32_t m_RecordNo = 0;  // natural order
    int64_t m_VisibleRank = 0;  // bitmap mode in an index: -1 when not known
    TCursorMemo m_Memo;         // where the last completed operation left the cursor
    int m_OperationDepth = 0;
    bool m_OpenedReadPhase = false;

    // Range.
    std::vector<uint8_t> m_RangeStart = std::vector<uint8_t>(kKeyBufferSize, 0);
    std::vector<uint8_t> m_RangeEnd = std::vector<uint8_t>(kKeyBufferSize, 0);
    bool m_RangeActive = false;
    int64_t m_RangeFirst = 1;
    int64_t m_RangeLast = 0;

    // Bitmaps and filters.
    TRecordBitmap m_Live, m_RangeBits, m_Visible;
    bool m_BitmapsBuilt = false;
    std::vector<std::unique_ptr<TFilter>> m_Filters;
    std::vector<int32_t> m_View;  // see "the view list"
    bool m_ViewBuilt = false;
};

template <class F>
auto TIndexFile::CursorOperation(F&& op, bool cursorOp) -> decltype(op()) {
    const bool outermost = m_OperationDepth++ == 0;
    constexpr int kMaxRestarts = 1000;
    for (int attempt = 0;; ++attempt) {
        bool ended = false;
        auto end = [&](bool success) {
            if (ended) return;
            ended = true;
            EndOperation(outermost, success, cursorOp);
        };
        try {
            BeginOperation(outermost, cursorOp);
            if constexpr (std::is_void_v<decltype(op())>) {
                op();
                end(true);
                return;
            } else {
                auto result = op();
                end(true);
                return result;
            }
        } catch (const TTableChanged&) {
            // Only the outermost operation starts over; the data file has
            // already re-read the table and repositioned the cursor.
            if (!outermost || attempt >= kMaxRestarts) {
                end(false);
                if (!outermost) throw;
                RaiseEngineErrorForLock();
            }
        } catch (...) {
            end(false);
            throw;
        }
    }
}

}  // namespace veltra
