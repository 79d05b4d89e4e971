// B+-tree operations of TIndexFile: searching, inserting and deleting keys.
#include <algorithm>
#include <cstring>

#include "data_file.h"
#include "errors.h"
#include "index_file.h"

namespace veltra {

int TIndexFile::UpperBound(const TPage& page, const uint8_t* key, int length, int slot) const {
    const TKeyLayout& l = m_Layouts[size_t(slot)];
    int lo = 0, hi = page.Count();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (l.Compare(page.Key(mid), key, length) <= 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

int TIndexFile::LowerBound(const TPage& page, const uint8_t* key, int length, int slot) const {
    const TKeyLayout& l = m_Layouts[size_t(slot)];
    int lo = 0, hi = page.Count();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        if (l.Compare(page.Key(mid), key, length) < 0) lo = mid + 1;
        else hi = mid;
    }
    return lo;
}

// The child under entry `pos`, checked against where it must sit in the tree.
TPageRef TIndexFile::ChildOf(int slot, const TPage& parent, int pos, int depth) {
    if (depth > kMaxTreeDepth || pos < 0 || pos >= parent.Count()) Corrupt();
    TPageRef child = FetchPage(slot, parent.Link(pos));
    if (child->IsRoot() || child->Count() == 0 || child->Offset == parent.Offset) Corrupt();
    child->Parent = parent.Offset;
    return child;
}

TPageRef TIndexFile::DescendForKey(int slot, const uint8_t* key, std::vector<TPathStep>& path) {
    path.clear();
    TPageRef page = FetchPage(slot, Root(slot));
    if (!page->IsRoot() || page->Count() == 0) Corrupt();
    page->Parent = 0;
    const int k = m_Layouts[size_t(slot)].KeySize;
    while (!page->IsLeaf()) {
        int pos = std::max(0, UpperBound(*page, key, k, slot) - 1);
        path.push_back({page->Offset, pos});
        page = ChildOf(slot, *page, pos, int(path.size()));
    }
    return page;
}

void TIndexFile::AdjustCounts(int slot, const std::vector<TPathStep>& path, int32_t delta) {
    for (const TPathStep& step : path) {
        TPageRef p = FetchPage(slot, step.Offset);
        Modify(*p);
        p->AddSubCount(step.Pos, delta);
    }
}

// A subtree's first key changed to `key`: the separators above it follow, up
// the path while the changed entry is the first of its page.
void TIndexFile::FixSeparators(int slot, const std::vector<TPathStep>& path, size_t level,
                               const uint8_t* key) {
    for (size_t i = level; i-- > 0;) {
        TPageRef p = FetchPage(slot, path[i].Offset);
        Modify(*p);
        p->SetKey(path[i].Pos, key);
        if (path[i].Pos != 0) break;
    }
}

bool TIndexFile::KeyExists(int slot, const uint8_t* key) {
    return CursorOperation(
        [&] {
            if (Root(slot) == 0) return false;
            std::vector<TPathStep> path;
            TPageRef leaf = DescendForKey(slot, key, path);
            int pos = LowerBound(*leaf, key, m_Layouts[size_t(slot)].KeySize, slot);
            return pos < leaf->Count() && m_Layouts[size_t(slot)].Compare(leaf->Key(pos), key) == 0;
        },
        false);
}

void TIndexFile::CheckKeyViolation(int slot, const uint8_t* key) {
    if (!m_Layouts[size_t(slot)].Unique || slot == kDeletedIndexSlot) return;
    if (KeyExists(slot, key)) RaiseEngineError(ecDuplicateKey, m_Owner.FileName(), {}, IndexName(slot));
}

void TIndexFile::InsertKey(int slot, const uint8_t* key, int32_t recordNo) {
    CursorOperation(
        [&] {
            TIndexChange change(*this);
            if (Root(slot) == 0) {
                TPageRef root = NewPage(slot, pkRootLeaf);
                root->Insert(0, key, recordNo);
                SetRoot(slot, root->Offset);
            } else {
                std::vector<TPathStep> path;
                TPageRef leaf = DescendForKey(slot, key, path);
                int pos = UpperBound(*leaf, key, m_Layouts[size_t(slot)].KeySize, slot);
                Modify(*leaf);
                leaf->Insert(pos, key, recordNo);
                AdjustCounts(slot, path, +1);
                if (pos == 0) FixSeparators(slot, path, path.size(), key);
                SplitIfNeeded(slot, std::move(leaf), path);
            }
            change.Commit();
        },
        false);
    m_CursorStale = true;
}

void TIndexFile::SplitIfNeeded(int slot, TPageRef page, std::vector<TPathStep>& path) {
    while (page->Overfull()) {
        const bool leaf = page->IsLeaf();
        const bool wasRoot = page->IsRoot();
        Modify(*page);
        TPageRef right = NewPage(slot, leaf ? pkLeaf : pkInternal);
        page->MoveTail((page->Count() + 1) / 2, *right);
        if (page->Compressed()) {
            // Halves are balanced by count; packed sizes may still differ.
            while (right->PackedSize() > kPageSpace && right->Count() > 1) {
                page->Insert(page->Count(), right->Key(0), right->Link(0));
                right->Erase(0);
            }
            while (page->PackedSize() > kPageSpace && page->Count() > 1) {
                int last = page->Count() - 1;
                right->Insert(0, page->Key(last), page->Link(last));
                page->Erase(last);
            }
            if (page->PackedSize() > kPageSpace || right->PackedSize() > kPageSpace) Corrupt();
        }
        right->Prev = page->Offset;
        right->Next = page->Next;
        if (page->Next != 0) {
            TPageRef next = FetchPage(slot, page->Next);
            Modify(*next);
            next->Prev = right->Offset;
        }
        page->Next = right->Offset;
        page->Kind = leaf ? pkLeaf : pkInternal;

        if (wasRoot) {
            TPageRef root = NewPage(slot, pkRoot);
            root->Insert(0, page->Key(0), page->Offset, int32_t(page->Total()));
            root->Insert(1, right->Key(0), right->Offset, int32_t(right->Total()));
            SetRoot(slot, root->Offset);
            return;
        }
        TPathStep step = path.back();
        path.pop_back();
        TPageRef parent = FetchPage(slot, step.Offset);
        Modify(*parent);
        parent->SetSubCount(step.Pos, int32_t(page->Total()));
        parent->Insert(step.Pos + 1, right->Key(0), right->Offset, int32_t(right->Total()));
        page = std::move(parent);
    }
}

void TIndexFile::DeleteKey(int slot, const uint8_t* key) {
    CursorOperation(
        [&] {
            TIndexChange change(*this);
            auto missing = [&] {
                RaiseEngineError(ecKeyNotFound, m_Owner.FileName(), {}, IndexName(slot));
            };
            if (Root(slot) == 0) missing();
            std::vector<TPathStep> path;
            TPageRef leaf = DescendForKey(slot, key, path);
            int pos = LowerBound(*leaf, key, m_Layouts[size_t(slot)].KeySize, slot);
            if (pos >= leaf->Count() || m_Layouts[size_t(slot)].Compare(leaf->Key(pos), key) != 0)
                missing();
            Modify(*leaf);
            leaf->Erase(pos);
            AdjustCounts(slot, path, -1);
            if (pos == 0 && leaf->Count() > 0) FixSeparators(slot, path, path.size(), leaf->Key(0));
            Rebalance(slot, std::move(leaf), path);
            change.Commit();
        },
        false);
    m_CursorStale = true;
}

void TIndexFile::ReplaceKey(int slot, const uint8_t* oldKey, const uint8_t* newKey, int32_t recordNo) {
    TIndexChange change(*this);
    DeleteKey(slot, oldKey);
    InsertKey(slot, newKey, recordNo);
    change.Commit();
}

// Removes entry path[level].Pos from its page (the child it pointed to is
// gone) and rebalances that page in turn.
void TIndexFile::RemoveChildEntry(int slot, std::vector<TPathStep>& path, size_t level) {
    TPathStep step = path[level];
    path.resize(level);
    TPageRef parent = FetchPage(slot, step.Offset);
    Modify(*parent);
    parent->Erase(step.Pos);
    if (step.Pos == 0 && parent->Count() > 0) FixSeparators(slot, path, path.size(), parent->Key(0));
    Rebalance(slot, std::move(parent), path);
}

void TIndexFile::Rebalance(int slot, TPageRef page, std::vector<TPathStep>& path) {
    if (page->IsRoot()) {
        if (page->Count() == 0) {
            FreePage(*page);
            SetRoot(slot, 0);
        } else if (!page->IsLeaf() && page->Count() == 1) {
            page.Reset();
            CollapseRoot(slot);
        }
        return;
    }
    auto unlinkAndFree = [&](TPage& p) {
        if (p.Prev != 0) {
            TPageRef prev = FetchPage(slot, p.Prev);
            Modify(*prev);
            prev->Next = p.Next;
        }
        if (p.Next != 0) {
            TPageRef next = FetchPage(slot, p.Next);
            Modify(*next);
            next->Prev = p.Prev;
        }
        FreePage(p);
    };
    if (page->Compressed()) {  // compressed leaves go only when empty
        if (page->Count() == 0) {
            unlinkAndFree(*page);
            RemoveChildEntry(slot, path, path.size() - 1);
        }
        return;
    }
    if (!page->Underfull()) return;

    const int limit = page->IsLeaf() ? page->Format.LeafLimit() : page->Format.InternalLimit();
    const TPathStep step = path.back();
    TPageRef parent = FetchPage(slot, step.Offset);
    if (parent->Link(step.Pos) != page->Offset) Corrupt();
    const int siblings = parent->Count();

    if (step.Pos > 0) {  // a middle or last child: work with the left neighbour
        TPageRef left = FetchPage(slot, parent->Link(step.Pos - 1));
        if (left->Offset != page->Prev) Corrupt();
        Modify(*left);
        Modify(*page);
        Modify(*parent);
        int total = left->Count() + page->Count();
        if (total < limit) {
            page->MoveHeadTo(page->Count(), *left);
            parent->SetSubCount(step.Pos - 1, int32_t(left->Total()));
            unlinkAndFree(*page);
            page.Reset();
            parent.Reset();
            RemoveChildEntry(slot, path, path.size() - 1);
            return;
        }
        int keepLeft = (total + 1) / 2;
        if (left->Count() > keepLeft) {
            TPage moved(slot, 0, page->Format);
            moved.Kind = page->Kind;
            left->MoveTail(keepLeft, moved);
            page->PrependAll(moved);
        } else {
            page->MoveHeadTo(keepLeft - left->Count(), *left);
        }
        parent->SetKey(step.Pos, page->Key(0));
        parent->SetSubCount(step.Pos - 1, int32_t(left->Total()));
        parent->SetSubCount(step.Pos, int32_t(page->Total()));
        return;
    }
    if (siblings > 1) {  // the first child: work with the right neighbour
        TPageRef right = FetchPage(slot, parent->Link(1));
        if (right->Offset != page->Next) Corrupt();
        Modify(*right);
        Modify(*page);
        Modify(*parent);
        int total = right->Count() + page->Count();
        if (total < limit) {
            right->PrependAll(*page);
            parent->SetKey(1, right->Key(0));
            parent->SetSubCount(1, int32_t(right->Total()));
            unlinkAndFree(*page);
            page.Reset();
            parent.Reset();
            RemoveChildEntry(slot, path, path.size() - 1);
            return;
        }
        int keepPage = total / 2;
        bool wasEmpty = page->Count() == 0;
        right->MoveHeadTo(keepPage - page->Count(), *page);
        parent->SetKey(1, right->Key(0));
        parent->SetSubCount(0, int32_t(page->Total()));
        parent->SetSubCount(1, int32_t(right->Total()));
        // A page emptied by the delete has just got a new first key; its
        // separator (and those above it on the leftmost path) still hold the
        // deleted one.
        if (wasEmpty) FixSeparators(slot, path, path.size(), page->Key(0));
        return;
    }
    // The only child of its parent. An empty page cannot stay in the tree:
    // take it out, and let the parent rebalance in turn.
    if (page->Count() == 0) {
        unlinkAndFree(*page);
        page.Reset();
        parent.Reset();
        RemoveChildEntry(slot, path, path.size() - 1);
    }
}

void TIndexFile::CollapseRoot(int slot) {
    TPageRef root = FetchPage(slot, Root(slot));
    while (!root->IsLeaf() && root->Count() == 1) {
        TPageRef child = FetchPage(slot, root->Link(0));
        FreePage(*root);
        Modify(*child);
        child->Kind = child->IsLeaf() ? pkRootLeaf : pkRoot;
        child->Prev = child->Next = child->Parent = 0;
        SetRoot(slot, child->Offset);
        root = std::move(child);
    }
}

int64_t TIndexFile::TreeTotal(int slot) {
    if (Root(slot) == 0) return 0;
    return FetchPage(slot, Root(slot))->Total();
}

// Entries below `key` (or not above it, when `inclusive`) over `length`
// bytes: one descent summing the subtree counts passed on the left.
int64_t TIndexFile::CountTo(int slot, const uint8_t* key, int length, bool inclusive) {
    if (Root(slot) == 0) return 0;
    auto bound = [&](const TPage& p) {
        return inclusive ? UpperBound(p, key, length, slot) : LowerBound(p, key, length, slot);
    };
    TPageRef page = FetchPage(slot, Root(slot));
    if (!page->IsRoot() || page->Count() == 0) Corrupt();
    int64_t before = 0;
    int depth = 0;
    while (!page->IsLeaf()) {
        int pos = std::max(0, bound(*page) - 1);
        for (int i = 0; i < pos; ++i) before += page->SubCount(i);
        page = ChildOf(slot, *page, pos, ++depth);
    }
    return before + bound(*page);
}

// The leaf holding logical position n (1-based) and the entry's position in it.
TPageRef TIndexFile::LeafAt(int slot, int64_t n, int& pos) {
    TPageRef page = FetchPage(slot, Root(slot));
    if (!page->IsRoot() || page->Count() == 0) Corrupt();
    int depth = 0;
    while (!page->IsLeaf()) {
        int i = 0;
        while (i < page->Count() - 1 && n > page->SubCount(i)) n -= page->SubCount(i++);
        page = ChildOf(slot, *page, i, ++depth);
    }
    if (n < 1 || n > page->Count()) Corrupt();  // counts disagree with the leaves
    pos = int(n - 1);
    return page;
}

}  // namespace veltra
