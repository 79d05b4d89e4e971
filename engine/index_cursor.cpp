// The table cursor of TIndexFile: positioning in an index or in natural
// order, ranges, and the record bitmaps behind filters and natural order.
#include <algorithm>
#include <cstring>

#include "data_file.h"
#include "errors.h"
#include "index_file.h"

namespace veltra {

// ------------------------------------------------------------ operations

void TIndexFile::RaiseEngineErrorForLock() const { RaiseEngineError(ecLockFailure, m_Owner.FileName()); }

void TIndexFile::BeginOperation(bool outermost, bool cursorOp) {
    if (!outermost || !cursorOp) return;
    // With strict change detection every cursor operation runs in a read
    // phase of its own, so it starts by learning of other processes' changes
    // (which also brings the cursor back to its key).
    if (m_Owner.StrictChangeDetection() && !m_Owner.LocksDisabled() && !m_Owner.InReadPhase() &&
        !m_Owner.InWritePhase() && !m_OpenedReadPhase) {
        m_OpenedReadPhase = true;
        m_Owner.BeginRead();
    }
    if (BitmapMode() && !m_BitmapsBuilt) RebuildBitmaps();
    if (m_CursorStale) RepositionStale();
}

void TIndexFile::EndOperation(bool outermost, bool success, bool cursorOp) {
    --m_OperationDepth;
    if (!outermost) return;
    if (success && cursorOp) RememberCursorKey();
    if (m_OpenedReadPhase) {
        m_OpenedReadPhase = false;
        m_Owner.EndRead();
    }
}

void TIndexFile::RepositionStale() {
    m_CursorStale = false;
    ClearCursor();
    ComputeRangePositions();
    PositionFromMemo(m_Memo);
}

void TIndexFile::RememberCursorKey() {
    m_Memo.Positioned = OnEntry();
    m_Memo.Bof = m_Bof;
    m_Memo.Eof = m_Eof;
    m_Memo.Key = CurrentKey();
    m_Memo.RecordNo = CurrentRecord();
}

TIndexFile::TCursorMemo TIndexFile::SaveCursor() const { return m_Memo; }

void TIndexFile::PositionFromMemo(const TCursorMemo& memo) {
    if (memo.Positioned) {
        if (NaturalOrder()) {
            int32_t r = m_Visible.NextSet(memo.RecordNo);
            if (!r) r = m_Visible.PrevSet(memo.RecordNo);
            r ? SetNatural(r) : SetEof();
        } else {
            FindNearestInternal(memo.Key.data(), true, CurrentLayout().KeySize);
        }
    } else if (memo.Eof) {
        SetEof();
    } else {
        SetBof();
    }
}

void TIndexFile::RestoreCursor(const TCursorMemo& memo) {
    InvalidateView();
    BuildLayouts();
    ClearCursor();
    m_CursorStale = false;
    m_BitmapsBuilt = false;
    ComputeRangePositions();
    if (BitmapMode()) RebuildBitmaps();
    PositionFromMemo(memo);
    RememberCursorKey();
}

// ------------------------------------------------------------ cursor state

void TIndexFile::ClearCursor() {
    m_Leaf.Reset();
    m_Pos = 0;
    m_Logical = 0;
    m_OnEntry = false;
    m_RecordNo = 0;
    m_VisibleRank = 0;
}

void TIndexFile::SetBof() {
    ClearCursor();
    m_Bof = true;
    m_Eof = false;
}

void TIndexFile::SetEof() {
    ClearCursor();
    m_Bof = false;
    m_Eof = true;
}

void TIndexFile::SetNatural(int32_t record) {
    ClearCursor();
    m_RecordNo = record;
    m_OnEntry = true;
    m_Bof = m_Eof = false;
}

void TIndexFile::SetCursor(TPageRef leaf, int pos, int64_t logical) {
    m_Leaf = std::move(leaf);
    m_Pos = pos;
    m_Logical = logical;
    m_OnEntry = true;
    m_Bof = m_Eof = false;
}

void TIndexFile::ResetCursor() {
    SetBof();
    m_CursorStale = false;
    RememberCursorKey();
}

int32_t TIndexFile::CurrentRecord() const {
    if (m_CursorStale) return m_Memo.Positioned ? m_Memo.RecordNo : 0;
    if (!OnEntry()) return 0;
    return NaturalOrder() ? m_RecordNo : m_Leaf->Link(m_Pos);
}

std::vector<uint8_t> TIndexFile::CurrentKey() const {
    if (m_CursorStale) return m_Memo.Key;
    if (!OnEntry() || NaturalOrder() || !m_Leaf) return {};
    const uint8_t* k = m_Leaf->Key(m_Pos);
    return std::vector<uint8_t>(k, k + m_Leaf->Format.KeySize);
}

bool TIndexFile::BitmapMode() const { return NaturalOrder() || AnyFilterActive(); }

bool TIndexFile::EntryVisible() const { return !BitmapMode() || m_Visible.Test(m_Leaf->Link(m_Pos)); }

// ------------------------------------------------------------ selecting

void TIndexFile::SelectIndex(int slot) {
    bool valid = slot == kNaturalOrderSlot || slot == kDeletedIndexSlot ||
                 (slot >= 0 && slot <= IndexCount());
    if (!valid) RaiseEngineError(ecInvalidIndexName, m_Owner.FileName(), {}, std::to_string(slot));
    m_Slot = slot;
    InvalidateView();
    m_RangeActive = false;
    const auto& collation = m_Owner.CollationTable();
    std::fill(m_RangeStart.begin(), m_RangeStart.end(), collation[0]);
    std::fill(m_RangeEnd.begin(), m_RangeEnd.end(), collation[255]);
    SetBof();
    m_CursorStale = false;
    CursorOperation([&] {
        ComputeRangePositions();
        if (m_BitmapsBuilt) RecomputeVisible();
    });
}

void TIndexFile::SelectIndexByName(const std::string& name) {
    auto upper = [](std::string s) {
        for (char& c : s)
            if (c >= 'a' && c <= 'z') c = char(c - 32);
        return s;
    };
    for (int slot = 1; slot <= IndexCount() && !name.empty(); ++slot) {
        if (upper(ReadDescriptor(slot).Name()) == upper(name)) {
            SelectIndex(slot);
            return;
        }
    }
    SelectIndex(0);
}

// ------------------------------------------------------------ positioning

bool TIndexFile::SeekLogical(int64_t n) {
    const int slot = m_Slot;
    if (Root(slot) == 0 || n < 1 || n > TreeTotal(slot)) return false;
    int pos = 0;
    TPageRef leaf = LeafAt(slot, n, pos);
    SetCursor(std::move(leaf), pos, n);
    return true;
}

bool TIndexFile::StepEntry(int direction) {
    if (!m_OnEntry || !m_Leaf) return false;
    if (direction > 0) {
        if (m_Pos + 1 < m_Leaf->Count()) {
            ++m_Pos;
        } else {
            if (m_Leaf->Next == 0) return false;
            TPageRef next = FetchPage(m_Slot, m_Leaf->Next);
            if (!next->IsLeaf() || next->Count() == 0 || next->Prev != m_Leaf->Offset) Corrupt();
            m_Leaf = std::move(next);
            m_Pos = 0;
        }
    } else {
        if (m_Pos > 0) {
            --m_Pos;
        } else {
            if (m_Leaf->Prev == 0) return false;
            TPageRef prev = FetchPage(m_Slot, m_Leaf->Prev);
            if (!prev->IsLeaf() || prev->Count() == 0 || prev->Next != m_Leaf->Offset) Corrupt();
            m_Leaf = std::move(prev);
            m_Pos = m_Leaf->Count() - 1;
        }
    }
    m_Logical += direction;
    return true;
}

bool TIndexFile::StepVisible(int direction) {
    do {
        if (!StepEntry(direction)) return false;
        if (direction > 0 && m_Logical > m_RangeLast) return false;
        if (direction < 0 && m_Logical < m_RangeFirst) return false;
    } while (!EntryVisible());
    return true;
}

void TIndexFile::SettleForward() {
    if (!m_OnEntry) return;
    if (m_Logical >= m_RangeFirst && m_Logical <= m_RangeLast && EntryVisible()) return;
    if (!StepVisible(+1)) SetEof();
}

void TIndexFile::SettleBackward() {
    if (!m_OnEntry) return;
    if (m_Logical >= m_RangeFirst && m_Logical <= m_RangeLast && EntryVisible()) return;
    if (!StepVisible(-1)) SetBof();
}

void TIndexFile::FirstInternal() {
    if (NaturalOrder()) {
        int32_t r = m_Visible.NextSet(1);
        r ? SetNatural(r) : SetEof();
        return;
    }
    if (m_RangeFirst > m_RangeLast || !SeekLogical(m_RangeFirst)) {
        SetEof();
        return;
    }
    SettleForward();
    m_VisibleRank = m_OnEntry ? 1 : 0;
}

void TIndexFile::LastInternal() {
    if (NaturalOrder()) {
        int32_t r = m_Visible.PrevSet(m_Visible.Records());
        r ? SetNatural(r) : SetBof();
        return;
    }
    if (m_RangeFirst > m_RangeLast || !SeekLogical(m_RangeLast)) {
        SetBof();
        return;
    }
    SettleBackward();
    m_VisibleRank = m_OnEntry ? (BitmapMode() ? m_Visible.Count() : m_Logical - m_RangeFirst + 1) : 0;
}

void TIndexFile::First() { CursorOperation([&] { FirstInternal(); }); }
void TIndexFile::Last() { CursorOperation([&] { LastInternal(); }); }

void TIndexFile::MoveBy(int64_t n) {
    if (n == 0) return;
    CursorOperation([&] {
        int64_t steps = n;
        if (!OnEntry()) {
            if (m_Bof && steps > 0) {
                FirstInternal();
                --steps;
            } else if (m_Eof && steps < 0) {
                LastInternal();
                ++steps;
            } else {
                return;
            }
            if (!OnEntry()) return;
        }
        if (NaturalOrder()) {
            int32_t r = m_RecordNo;
            for (; steps > 0; --steps)
                if (!(r = m_Visible.NextSet(r + 1))) return SetEof();
            for (; steps < 0; ++steps)
                if (!(r = m_Visible.PrevSet(r - 1))) return SetBof();
            return SetNatural(r);
        }
        if (!BitmapMode()) {
            int64_t target = m_Logical + steps;
            if (target < m_RangeFirst) return SetBof();
            if (target > m_RangeLast) return SetEof();
            int pos = m_Pos + int(std::clamp<int64_t>(steps, -m_Pos - 1, m_Leaf->Count()));
            if (pos >= 0 && pos < m_Leaf->Count()) {
                m_Pos = pos;
                m_Logical = target;
            } else {
                SeekLogical(target);
            }
            return;
        }
        int direction = steps > 0 ? 1 : -1;
        for (int64_t i = 0; i < std::abs(steps); ++i) {
            if (!StepVisible(direction)) return direction > 0 ? SetEof() : SetBof();
            if (m_VisibleRank > 0) m_VisibleRank += direction;
        }
    });
}

void TIndexFile::GotoRecordNumber(int64_t n) {
    CursorOperation([&] {
        if (n < 1) return SetBof();
        if (NaturalOrder()) {
            int32_t r = n > m_Visible.Records() ? 0 : m_Visible.NextSet(int32_t(n));
            if (!r) r = m_Visible.PrevSet(int32_t(std::min<int64_t>(n, m_Visible.Records())));
            return r ? SetNatural(r) : SetEof();
        }
        if (!BitmapMode()) {
            if (n > m_RangeLast - m_RangeFirst + 1) return SetEof();
            SeekLogical(m_RangeFirst + n - 1);
            return;
        }
        const std::vector<int32_t>& view = View();
        if (n > int64_t(view.size())) return SetEof();
        if (!SeekLogical(view[size_t(n - 1)])) Corrupt();
        m_VisibleRank = n;
    });
}

int64_t TIndexFile::RecordNumber() {
    return CursorOperation([&]() -> int64_t {
        if (!OnEntry()) return 0;
        if (NaturalOrder()) return m_Visible.Rank(m_RecordNo);
        if (!BitmapMode()) return m_Logical - m_RangeFirst + 1;
        if (m_VisibleRank <= 0) {
            const std::vector<int32_t>& view = View();
            auto it = std::lower_bound(view.begin(), view.end(), int32_t(m_Logical));
            m_VisibleRank = it != view.end() && *it == m_Logical ? int64_t(it - view.begin()) + 1 : 0;
        }
        return m_VisibleRank;
    });
}

bool TIndexFile::FindNearestInternal(const uint8_t* key, bool after, int length) {
    if (NaturalOrder()) return false;
    const int slot = m_Slot;
    int64_t first = CountBelow(slot, key, length) + 1;  // first entry not below key
    if (m_RangeFirst > m_RangeLast) {
        SetEof();
        return false;
    }
    int64_t at = std::max(first, m_RangeFirst);
    bool equal = false;
    if (at <= m_RangeLast && SeekLogical(at))
        equal = m_Layouts[size_t(slot)].Compare(m_Leaf->Key(m_Pos), key, length) == 0;
    if (after || equal) {
        if (at > m_RangeLast) {
            SetEof();
            return false;
        }
        SettleForward();
    } else {
        SeekLogical(std::max(first - 1, m_RangeFirst));
        SettleBackward();
        if (!OnEntry()) FirstInternal();
    }
    m_VisibleRank = -1;
    return OnEntry() && m_Layouts[size_t(slot)].Compare(m_Leaf->Key(m_Pos), key, length) == 0;
}

bool TIndexFile::FindNearest(const uint8_t* key, bool after, int length) {
    return CursorOperation([&] { return FindNearestInternal(key, after, length); });
}

bool TIndexFile::FindKey(const uint8_t* key) {
    return CursorOperation([&] { return FindNearestInternal(key, true, CurrentLayout().KeySize); });
}

int32_t TIndexFile::ConsecutiveRecords(int32_t limit, int direction) const {
    if (!OnEntry() || m_CursorStale) return 0;
    int32_t count = 1;
    if (NaturalOrder()) {
        while (count < limit && m_Visible.Test(m_RecordNo + direction * count)) ++count;
        return count;
    }
    const int32_t first = m_Leaf->Link(m_Pos);
    while (count < limit) {
        int p = m_Pos + direction * count;
        if (p < 0 || p >= m_Leaf->Count() || m_Leaf->Link(p) != first + direction * count) break;
        ++count;
    }
    return count;
}

void TIndexFile::UpcomingRecords(int32_t limit, int direction, std::vector<int32_t>& records) const {
    records.clear();
    if (!OnEntry() || m_CursorStale || NaturalOrder() || !m_Leaf) return;
    const bool bitmap = BitmapMode();
    int64_t logical = m_Logical;
    for (int p = m_Pos + direction; p >= 0 && p < m_Leaf->Count() && int32_t(records.size()) < limit;
         p += direction) {
        logical += direction;
        if (logical < m_RangeFirst || logical > m_RangeLast) break;
        const int32_t r = m_Leaf->Link(p);
        if (bitmap && !m_Visible.Test(r)) continue;
        records.push_back(r);
    }
}

int32_t TIndexFile::RecordAtRow(int64_t n) {
    return CursorOperation(
        [&]() -> int32_t {
            if (n < 1) return 0;
            if (NaturalOrder()) {
                const std::vector<int32_t>& view = View();
                return n <= int64_t(view.size()) ? view[size_t(n - 1)] : 0;
            }
            int64_t logical = 0;
            if (BitmapMode()) {
                const std::vector<int32_t>& view = View();
                if (n > int64_t(view.size())) return 0;
                logical = view[size_t(n - 1)];
            } else {
                if (n > m_RangeLast - m_RangeFirst + 1) return 0;
                logical = m_RangeFirst + n - 1;
            }
            if (Root(m_Slot) == 0) return 0;
            int pos = 0;
            TPageRef leaf = LeafAt(m_Slot, logical, pos);
            return leaf->Link(pos);
        },
        false);
}

const std::vector<int32_t>& TIndexFile::View() {
    if (m_ViewBuilt) return m_View;
    m_View.clear();
    if (!m_BitmapsBuilt) RebuildBitmaps();
    if (NaturalOrder()) {
        m_View.reserve(size_t(m_Visible.Count()));
        for (int32_t r = m_Visible.NextSet(1); r != 0; r = m_Visible.NextSet(r + 1)) m_View.push_back(r);
    } else {
        m_View.reserve(size_t(m_Visible.Count()));
        int64_t logical = m_RangeFirst;
        WalkEntries(m_Slot, m_RangeFirst, m_RangeLast, [&](int32_t r) {
            if (m_Visible.Test(r)) m_View.push_back(int32_t(logical));
            ++logical;
        });
    }
    m_ViewBuilt = true;
    return m_View;
}

int64_t TIndexFile::VisibleCount() {
    return CursorOperation([&]() -> int64_t {
        if (BitmapMode()) return m_Visible.Count();
        return std::max<int64_t>(0, m_RangeLast - m_RangeFirst + 1);
    });
}

// ------------------------------------------------------------ ranges

void TIndexFile::SetRangeStart(const uint8_t* key) {
    std::memcpy(m_RangeStart.data(), key, size_t(CurrentLayout().KeySize));
}

void TIndexFile::SetRangeEnd(const uint8_t* key) {
    std::memcpy(m_RangeEnd.data(), key, size_t(CurrentLayout().KeySize));
}

void TIndexFile::ComputeRangePositions() {
    InvalidateView();
    if (NaturalOrder()) {
        m_RangeFirst = 1;
        m_RangeLast = SlotCount();
        return;
    }
    const int slot = m_Slot;
    const int k = m_Layouts[size_t(slot)].KeySize;
    if (!m_RangeActive) {
        m_RangeFirst = 1;
        m_RangeLast = TreeTotal(slot);
    } else if (m_Layouts[size_t(slot)].Compare(m_RangeStart.data(), m_RangeEnd.data(), k) > 0) {
        m_RangeFirst = 1;
        m_RangeLast = 0;
    } else {
        m_RangeFirst = CountBelow(slot, m_RangeStart.data(), k) + 1;
        m_RangeLast = CountNotAbove(slot, m_RangeEnd.data(), k);
    }
}

void TIndexFile::ApplyRange() {
    CursorOperation([&] {
        m_RangeActive = !NaturalOrder();
        ComputeRangePositions();
        if (m_BitmapsBuilt) {
            BuildRangeBitmap();
            RecomputeVisible();
        }
        SetBof();
    });
}

void TIndexFile::CancelRange() {
    CursorOperation([&] {
        m_RangeActive = false;
        const auto& collation = m_Owner.CollationTable();
        std::fill(m_RangeStart.begin(), m_RangeStart.end(), collation[0]);
        std::fill(m_RangeEnd.begin(), m_RangeEnd.end(), collation[255]);
        ComputeRangePositions();
        if (m_BitmapsBuilt) RecomputeVisible();
        SetBof();
    });
}

int64_t TIndexFile::CountKeysInRange(int slot, const uint8_t* low, const uint8_t* high, int length) {
    return CursorOperation(
        [&] {
            return std::max<int64_t>(0, CountNotAbove(slot, high, length) - CountBelow(slot, low, length));
        },
        false);
}

void TIndexFile::MarkKeysInRange(int slot, const uint8_t* low, const uint8_t* high, int length,
                                 TRecordBitmap& bitmap) {
    CursorOperation(
        [&] {
            int64_t first = CountBelow(slot, low, length) + 1;
            int64_t last = CountNotAbove(slot, high, length);
            WalkEntries(slot, first, last, [&](int32_t r) { bitmap.Set(r); });
        },
        false);
}

template <class F>
void TIndexFile::WalkEntries(int slot, int64_t first, int64_t last, F&& f) {
    if (first > last || Root(slot) == 0) return;
    int pos = 0;
    TPageRef leaf = LeafAt(slot, first, pos);
    for (int64_t n = first;; ++n) {
        f(leaf->Link(pos));
        if (n == last) return;
        if (++pos == leaf->Count()) {
            if (leaf->Next == 0) Corrupt();  // counts promise more entries
            TPageRef next = FetchPage(slot, leaf->Next);
            if (!next->IsLeaf() || next->Count() == 0) Corrupt();
            leaf = std::move(next);
            pos = 0;
        }
    }
}

// ------------------------------------------------------------ bitmaps

int32_t TIndexFile::SlotCount() const { return m_Owner.NextRecordNo() - 1; }

void TIndexFile::RebuildBitmaps() {
    BuildLiveBitmap();
    if (m_RangeActive && !NaturalOrder()) BuildRangeBitmap();
    for (auto& f : m_Filters)
        if (f->Active) BuildFilterBitmap(*f);
    RecomputeVisible();
    m_BitmapsBuilt = true;
}

// The live records come from slot 31 (status 0 entries) by walking whichever
// side is smaller. A table without primary index has no slot-31 entries: its
// record slots are read, so that deleted slots never show in natural order.
void TIndexFile::BuildLiveBitmap() {
    const int32_t n = SlotCount();
    m_Live = TRecordBitmap(n);
    if (HasPrimaryIndex()) {
        const uint8_t deleted[1] = {1};
        int64_t active = CountBelow(kDeletedIndexSlot, deleted, 1);
        int64_t total = TreeTotal(kDeletedIndexSlot);
        if (active <= total - active) {
            WalkEntries(kDeletedIndexSlot, 1, active, [&](int32_t r) { m_Live.Set(r); });
        } else {
            WalkEntries(kDeletedIndexSlot, active + 1, total, [&](int32_t r) { m_Live.Set(r); });
            m_Live.Invert();
        }
        return;
    }
    for (int32_t r = 1; r <= n; ++r) {
        TFetchResult f = m_Owner.FetchRecord(r, TReadAhead::Physical);
        if (f.TableChanged) throw TTableChanged{};
        if (!f.Record->IsDeleted()) m_Live.Set(r);
        f.Record->Unpin();
    }
}

void TIndexFile::BuildRangeBitmap() {
    m_RangeBits = TRecordBitmap(SlotCount());
    const int64_t total = TreeTotal(m_Slot);
    const int64_t inside = std::max<int64_t>(0, m_RangeLast - m_RangeFirst + 1);
    if (inside <= total - inside) {
        WalkEntries(m_Slot, m_RangeFirst, m_RangeLast, [&](int32_t r) { m_RangeBits.Set(r); });
    } else {
        WalkEntries(m_Slot, 1, m_RangeFirst - 1, [&](int32_t r) { m_RangeBits.Set(r); });
        WalkEntries(m_Slot, m_RangeLast + 1, total, [&](int32_t r) { m_RangeBits.Set(r); });
        m_RangeBits.Invert();
    }
}

void TIndexFile::BuildFilterBitmap(TFilter& filter) {
    filter.Bitmap = TRecordBitmap(SlotCount());
    if (filter.Expression && filter.Expression->BuildBitmap(m_Owner, m_Live, filter.Bitmap)) return;
    for (int32_t r = m_Live.NextSet(1); r != 0; r = m_Live.NextSet(r + 1)) {
        TFetchResult f = m_Owner.FetchRecord(r, TReadAhead::Physical);
        if (f.TableChanged) throw TTableChanged{};
        bool accepted = filter.Matches(f.Record->Buffer.data());
        f.Record->Unpin();
        if (accepted) filter.Bitmap.Set(r);
    }
}

void TIndexFile::RecomputeVisible() {
    InvalidateView();
    m_Visible = m_Live;
    if (m_RangeActive && !NaturalOrder()) m_Visible.And(m_RangeBits);
    for (auto& f : m_Filters)
        if (f->Active) m_Visible.And(f->Bitmap);
}

void TIndexFile::RecordAdded(int32_t recordNo, const uint8_t* record) {
    InvalidateView();
    if (!m_BitmapsBuilt) return;
    bool visible = true;
    m_Live.Set(recordNo);
    if (m_RangeActive && !NaturalOrder()) {
        const TKeyLayout& l = CurrentLayout();
        std::vector<uint8_t> key(size_t(l.KeySize));
        l.Build(record, key.data());
        bool in = l.Compare(key.data(), m_RangeStart.data()) >= 0 &&
                  l.Compare(key.data(), m_RangeEnd.data()) <= 0;
        in ? m_RangeBits.Set(recordNo) : m_RangeBits.Clear(recordNo);
        visible = in;
    }
    for (auto& f : m_Filters) {
        if (!f->Active) continue;
        bool accepted = f->Matches(record);
        accepted ? f->Bitmap.Set(recordNo) : f->Bitmap.Clear(recordNo);
        visible = visible && accepted;
    }
    visible ? m_Visible.Set(recordNo) : m_Visible.Clear(recordNo);
}

void TIndexFile::RecordRemoved(int32_t recordNo) {
    InvalidateView();
    if (!m_BitmapsBuilt) return;
    m_Live.Clear(recordNo);
    m_RangeBits.Clear(recordNo);
    m_Visible.Clear(recordNo);
    for (auto& f : m_Filters) f->Bitmap.Clear(recordNo);
}

}  // namespace veltra
