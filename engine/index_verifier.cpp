#include "index_verifier.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "errors.h"
#include "index_file.h"

namespace veltra {

std::string TIndexReport::Text() const {
    std::string s;
    for (const auto& p : Problems) s += p + "\n";
    return s;
}

struct TIndexVerifier::TWalk {
    TIndexFile& Index;
    int Slot;
    TIndexReport& Report;
    std::set<int32_t> Seen;
    std::vector<std::vector<int32_t>> Levels;  // page offsets per level, left to right
    std::vector<uint8_t> LastLeafKey;
    int LeafDepth = -1;
    const TIndexEntryVisitor* Visitor = nullptr;

    void Problem(int32_t offset, const std::string& what) {
        if (Report.Problems.size() < 50)
            Report.Problems.push_back("slot " + std::to_string(Slot) + " page " + std::to_string(offset) +
                                      ": " + what);
    }
};

TIndexReport TIndexVerifier::Verify(TIndexFile& index, int slot, const TIndexEntryVisitor& visitor) {
    TIndexReport report;
    TWalk w{index, slot, report};
    if (visitor) w.Visitor = &visitor;
    try {
        index.CursorOperation(
            [&] {
                if (index.Root(slot) != 0) {
                    report.Entries = WalkPage(w, index.Root(slot), 0, nullptr);
                    report.Depth = w.LeafDepth + 1;
                }
                CheckSiblings(w);
                CheckFreeList(w);
            },
            false);
    } catch (const EVeltraEngineError& e) {
        report.Problems.push_back("slot " + std::to_string(slot) + ": " + e.what());
    }
    report.TreePages.assign(w.Seen.begin(), w.Seen.end());
    return report;
}

// Walks the subtree under `offset` and returns its leaf entry count.
int64_t TIndexVerifier::WalkPage(TWalk& w, int32_t offset, int depth, std::vector<uint8_t>* firstKey) {
    if (depth > kMaxTreeDepth) {
        w.Problem(offset, "tree deeper than " + std::to_string(kMaxTreeDepth));
        return 0;
    }
    if (!w.Seen.insert(offset).second) {
        w.Problem(offset, "page reached twice");
        return 0;
    }
    TPageRef p;
    try {
        p = w.Index.FetchPage(w.Slot, offset);
    } catch (const EVeltraEngineError& e) {
        // One unreadable page must not hide the rest of the tree.
        w.Problem(offset, std::string("cannot be read: ") + e.what());
        return 0;
    }
    if (w.Levels.size() <= size_t(depth)) w.Levels.resize(size_t(depth) + 1);
    w.Levels[size_t(depth)].push_back(offset);

    const TKeyLayout& layout = w.Index.Layout(w.Slot);
    const int k = layout.KeySize;
    const bool root = depth == 0;
    uint8_t kind = p->IsLeaf() ? (root ? pkRootLeaf : pkLeaf) : (root ? pkRoot : pkInternal);
    if (p->Kind != kind) w.Problem(offset, "kind " + std::to_string(p->Kind));
    if (p->Count() == 0) w.Problem(offset, "no entries");
    if (p->Overfull())
        w.Problem(offset, "over capacity: " + std::to_string(p->Count()) + " entries, " +
                              std::to_string(p->PackedSize()) + " packed bytes");
    for (int i = 1; i < p->Count(); ++i)
        if (layout.Compare(p->Key(i - 1), p->Key(i)) >= 0)
            w.Problem(offset, "keys out of order at entry " + std::to_string(i));
    if (firstKey && p->Count() > 0) firstKey->assign(p->Key(0), p->Key(0) + k);

    if (p->IsLeaf()) {
        if (w.LeafDepth < 0) w.LeafDepth = depth;
        if (depth != w.LeafDepth) w.Problem(offset, "leaf at depth " + std::to_string(depth));
        if (p->Count() > 0) {
            if (!w.LastLeafKey.empty() && layout.Compare(w.LastLeafKey.data(), p->Key(0)) >= 0)
                w.Problem(offset, "first key not above the previous leaf's last key");
            w.LastLeafKey.assign(p->Key(p->Count() - 1), p->Key(p->Count() - 1) + k);
        }
        if (w.Visitor)
            for (int i = 0; i < p->Count(); ++i) (*w.Visitor)(w.Slot, p->Key(i), p->Link(i));
        return p->Count();
    }
    int64_t total = 0;
    for (int i = 0; i < p->Count(); ++i) {
        std::vector<uint8_t> childFirst;
        int64_t n = WalkPage(w, p->Link(i), depth + 1, &childFirst);
        if (n != p->SubCount(i))
            w.Problem(offset, "entry " + std::to_string(i) + " counts " + std::to_string(p->SubCount(i)) +
                                  ", its subtree holds " + std::to_string(n));
        if (childFirst.size() == size_t(k) && std::memcmp(childFirst.data(), p->Key(i), size_t(k)) != 0)
            w.Problem(offset, "separator " + std::to_string(i) + " differs from its child's first key");
        total += n;
    }
    return total;
}

void TIndexVerifier::CheckSiblings(TWalk& w) {
    for (const auto& pages : w.Levels) {
        for (size_t i = 0; i < pages.size(); ++i) {
            TPageRef p = w.Index.FetchPage(w.Slot, pages[i]);
            int32_t prev = i > 0 ? pages[i - 1] : 0;
            int32_t next = i + 1 < pages.size() ? pages[i + 1] : 0;
            if (p->Prev != prev)
                w.Problem(p->Offset, "previous link " + std::to_string(p->Prev) + ", expected " +
                                         std::to_string(prev));
            if (p->Next != next)
                w.Problem(p->Offset, "next link " + std::to_string(p->Next) + ", expected " +
                                         std::to_string(next));
        }
    }
}

void TIndexVerifier::CheckFreeList(TWalk& w) {
    std::set<int32_t> free;
    for (int32_t o = w.Index.FreeHead(w.Slot); o != 0;) {
        if (!free.insert(o).second) {
            w.Problem(o, "free list has a cycle");
            break;
        }
        w.Report.FreePages.push_back(o);
        if (w.Seen.count(o)) w.Problem(o, "page is both free and in the tree");
        TPageRef p = w.Index.FetchPage(w.Slot, o);
        if (p->Count() != 0) w.Problem(o, "free page holds entries");
        o = p->Next;
    }
}

TIndexReport TIndexVerifier::VerifyAll(TIndexFile& index, const TIndexEntryVisitor& visitor) {
    TIndexReport all;
    std::set<int32_t> owned;
    std::vector<int> slots;
    if (index.HasPrimaryIndex()) slots.push_back(0);
    for (int s = 1; s <= index.IndexCount(); ++s) slots.push_back(s);
    slots.push_back(kDeletedIndexSlot);
    for (int slot : slots) {
        TIndexReport r = Verify(index, slot, visitor);
        all.Problems.insert(all.Problems.end(), r.Problems.begin(), r.Problems.end());
        all.Entries += r.Entries;
        all.Depth = std::max(all.Depth, r.Depth);
        for (const auto* pages : {&r.TreePages, &r.FreePages}) {
            for (int32_t o : *pages) {
                if (!owned.insert(o).second)
                    all.Problems.push_back("slot " + std::to_string(slot) + " page " + std::to_string(o) +
                                           ": also used by another index");
            }
        }
        all.TreePages.insert(all.TreePages.end(), r.TreePages.begin(), r.TreePages.end());
        all.FreePages.insert(all.FreePages.end(), r.FreePages.begin(), r.FreePages.end());
        if (r.Ok() && slot != kDeletedIndexSlot && r.Entries != index.RecordCount())
            all.Problems.push_back("slot " + std::to_string(slot) + " holds " + std::to_string(r.Entries) +
                                   " entries for " + std::to_string(index.RecordCount()) + " records");
    }
    if (index.HasPrimaryIndex() && all.Ok()) {
        const uint8_t deleted[1] = {1};
        int64_t active = index.CursorOperation(
            [&] { return index.CountBelow(kDeletedIndexSlot, deleted, 1); }, false);
        if (active != index.RecordCount())
            all.Problems.push_back("the deleted-records index holds " + std::to_string(active) +
                                   " active records; the header counts " + std::to_string(index.RecordCount()));
    }
    return all;
}

}  // namespace veltra
