#include "record_cache.h"

#include <algorithm>

#include "byte_order.h"

namespace veltra {

int32_t TRecord::Link() const { return GetI32(&Buffer[1]); }
int32_t TRecord::RecordID() const { return GetI32(&Buffer[5]); }
void TRecord::SetLink(int32_t link) { PutI32(&Buffer[1], link); }
void TRecord::SetRecordID(int32_t id) { PutI32(&Buffer[5], id); }

void TRecordCache::Configure(int recordSize, size_t bytes) {
    Clear();
    m_RecordSize = recordSize;
    if (bytes == 0) bytes = kRecordCacheBytes;
    m_Capacity = recordSize > 0 ? std::min<size_t>(bytes / size_t(recordSize), kMaxCachedRecords) : 0;
    if (m_Capacity < 1) m_Capacity = 1;
}

TRecord* TRecordCache::Find(int32_t n) const {
    auto it = m_ByNumber.find(n);
    return it == m_ByNumber.end() ? nullptr : it->second;
}

void TRecordCache::Touch(TRecord* r) {
    if (r->m_Self != m_List.begin()) m_List.splice(m_List.begin(), m_List, r->m_Self);
}

void TRecordCache::Pin(TRecord* r) {
    ++r->PinCount;
    if (!r->m_InPinned) {
        r->m_InPinned = true;
        m_Pinned.push_back(r);
    }
    if (!r->m_InTouched) {
        r->m_InTouched = true;
        m_Touched.push_back(r);
    }
}

void TRecordCache::Mark(TRecord* r) {
    if (r->Marked) return;
    r->Marked = true;
    m_Marked.push_back(r);
}

TRecord* TRecordCache::TakeBuffer() {
    if (m_List.size() < m_Capacity) return AddNew();
    if (TRecord* r = ReuseClean()) return r;
    if (m_HoldDirty) return AddNew();
    WriteDirty();
    return ReuseClean();
}

TRecord* TRecordCache::TakeFreeBuffer() {
    if (m_List.size() < m_Capacity) return AddNew();
    return ReuseClean();
}

TRecord* TRecordCache::AddNew() {
    m_List.push_front(std::make_unique<TRecord>(m_Owner, m_RecordSize));
    m_List.front()->m_Self = m_List.begin();
    return m_List.front().get();
}

TRecord* TRecordCache::ReuseClean() {
    for (auto it = m_List.rbegin(); it != m_List.rend(); ++it) {
        TRecord* r = it->get();
        if (r->Dirty || r->PinCount > 0 || r->Marked) continue;
        if (r->PhysicalNo != 0) m_ByNumber.erase(r->PhysicalNo);
        r->PhysicalNo = 0;
        std::fill(r->Buffer.begin(), r->Buffer.end(), 0);
        Touch(r);
        return r;
    }
    return nullptr;
}

void TRecordCache::Unlist(TRecord* r) {
    if (r->Marked) std::erase(m_Marked, r);
    if (r->m_InPinned) std::erase(m_Pinned, r);
    if (r->m_InTouched) std::erase(m_Touched, r);
}

void TRecordCache::Erase(TRecord* r) {
    Unlist(r);
    if (r->PhysicalNo != 0) m_ByNumber.erase(r->PhysicalNo);
    m_List.erase(r->m_Self);
}

void TRecordCache::Remove(TRecord* r) {
    if (r) Erase(r);
}

void TRecordCache::Assign(TRecord* r, int32_t n) {
    if (r->PhysicalNo != 0) m_ByNumber.erase(r->PhysicalNo);
    r->PhysicalNo = n;
    if (n != 0) m_ByNumber[n] = r;
}

// Only buffers pinned since the last write can have been changed.
void TRecordCache::WriteDirty() {
    std::vector<TRecord*> dirty, kept;
    for (TRecord* r : m_Touched) {
        if (r->Dirty && r->PinCount == 0 && r->PhysicalNo != 0) {
            dirty.push_back(r);
            r->m_InTouched = false;
        } else if (r->Dirty || r->PinCount > 0) {
            kept.push_back(r);  // still in use or not yet writable: looked at again next time
        } else {
            r->m_InTouched = false;
        }
    }
    m_Touched = std::move(kept);
    if (dirty.empty()) return;
    std::sort(dirty.begin(), dirty.end(),
              [](const TRecord* a, const TRecord* b) { return a->PhysicalNo < b->PhysicalNo; });
    try {
        m_Writer(dirty);
    } catch (...) {
        // What was not written stays listed, so a later write tries again.
        for (TRecord* r : dirty) {
            if (r->Dirty && !r->m_InTouched) {
                r->m_InTouched = true;
                m_Touched.push_back(r);
            }
        }
        throw;
    }
}

void TRecordCache::Trim(const TRecord* keep) {
    for (auto it = m_List.end(); m_List.size() > m_Capacity && it != m_List.begin();) {
        auto at = std::prev(it);
        TRecord* r = at->get();
        if (r == keep || r->Dirty || r->PinCount > 0 || r->Marked) {
            it = at;
            continue;
        }
        Erase(r);
    }
}

void TRecordCache::ClearMarks() {
    for (TRecord* r : m_Marked) r->Marked = false;
    m_Marked.clear();
}

void TRecordCache::UnpinAll() {
    for (TRecord* r : m_Pinned) {
        r->PinCount = 0;
        r->m_InPinned = false;
    }
    m_Pinned.clear();
}

void TRecordCache::Clear() {
    m_ByNumber.clear();
    m_Marked.clear();
    m_Pinned.clear();
    m_Touched.clear();
    m_List.clear();
}

}  // namespace veltra
