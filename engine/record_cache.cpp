#include "record_cache.h"

#include <algorithm>

#include "byte_order.h"

namespace veltra {

int32_t TRecord::Link() const { return GetI32(&Buffer[1]); }
int32_t TRecord::RecordID() const { return GetI32(&Buffer[5]); }
void TRecord::SetLink(int32_t link) { PutI32(&Buffer[1], link); }
void TRecord::SetRecordID(int32_t id) { PutI32(&Buffer[5], id); }

void TRecordCache::Configure(int recordSize) {
    Clear();
    m_RecordSize = recordSize;
    m_Capacity = recordSize > 0 ? std::min<size_t>(131070 / size_t(recordSize), 65535) : 0;
    if (m_Capacity < 1) m_Capacity = 1;
}

TRecord* TRecordCache::Find(int32_t n) const {
    auto it = m_ByNumber.find(n);
    return it == m_ByNumber.end() ? nullptr : it->second->get();
}

void TRecordCache::Touch(TRecord* r) {
    auto it = m_Position.at(r);
    if (it != m_List.begin()) m_List.splice(m_List.begin(), m_List, it);
}

TRecord* TRecordCache::TakeBuffer() {
    if (m_List.size() < m_Capacity) return AddNew();
    if (TRecord* r = ReuseClean()) return r;
    if (m_HoldDirty) return AddNew();
    WriteDirty();
    return ReuseClean();
}

TRecord* TRecordCache::AddNew() {
    m_List.push_front(std::make_unique<TRecord>(m_Owner, m_RecordSize));
    m_Position[m_List.front().get()] = m_List.begin();
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

void TRecordCache::Remove(TRecord* r) {
    auto it = m_Position.find(r);
    if (it == m_Position.end()) return;
    if (r->PhysicalNo != 0) m_ByNumber.erase(r->PhysicalNo);
    auto listIt = it->second;
    m_Position.erase(it);
    m_List.erase(listIt);
}

void TRecordCache::Assign(TRecord* r, int32_t n) {
    if (r->PhysicalNo != 0) m_ByNumber.erase(r->PhysicalNo);
    r->PhysicalNo = n;
    if (n != 0) m_ByNumber[n] = m_Position.at(r);
}

void TRecordCache::WriteDirty() {
    std::vector<TRecord*> dirty;
    for (auto& r : m_List)
        if (r->Dirty && r->PinCount == 0 && r->PhysicalNo != 0) dirty.push_back(r.get());
    if (dirty.empty()) return;
    std::sort(dirty.begin(), dirty.end(),
              [](const TRecord* a, const TRecord* b) { return a->PhysicalNo < b->PhysicalNo; });
    m_Writer(dirty);
}

void TRecordCache::Trim(const TRecord* keep) {
    for (auto it = m_List.end(); m_List.size() > m_Capacity && it != m_List.begin();) {
        auto at = std::prev(it);
        TRecord* r = at->get();
        if (r == keep || r->Dirty || r->PinCount > 0 || r->Marked) {
            it = at;
            continue;
        }
        if (r->PhysicalNo != 0) m_ByNumber.erase(r->PhysicalNo);
        m_Position.erase(r);
        m_List.erase(at);
    }
}

void TRecordCache::ClearMarks() {
    for (auto& r : m_List) r->Marked = false;
}

void TRecordCache::UnpinAll() {
    for (auto& r : m_List) r->PinCount = 0;
}

void TRecordCache::Clear() {
    m_ByNumber.clear();
    m_Position.clear();
    m_List.clear();
}

}  // namespace veltra
