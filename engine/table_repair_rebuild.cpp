// RepairTable's second part, through the engine on the mended table opened
// exclusively: every index built again from the records, every BLOB chain
// walked (broken ones emptied), the free slot chain, the deleted-records index
// and the BLOB free list built again.
#include <algorithm>
#include <unordered_set>
#include <vector>

#include "blob_file.h"
#include "byte_order.h"
#include "data_file.h"
#include "errors.h"
#include "index_file.h"
#include "table_repair_internal.h"

namespace veltra::repair {

namespace {

struct TBlobField {
    int FieldNo;
    int Offset;         // of the null byte in the record
    std::string Label;  // "field 6 (Notes)"
};

class TRebuild {
  public:
    explicit TRebuild(TRun& run) : m_Run(run) {}
    void Run();

  private:
    void Open();
    // Slot r, pinned (the table is exclusive: no other process can change it).
    TRecord* Fetch(int32_t r) {
        TRecord* rec = m_T.FetchRecord(r, TReadAhead::Physical, 1).Record;
        if (!rec) RaiseEngineError(ecRecordNotFound, m_T.FileName());
        return rec;
    }
    void Records();
    void FreeChainAndDeletedIndex();
    void BlobFreeList();
    // Indexes an active record; false when a unique key is taken.
    bool IndexRecord(int32_t r, const uint8_t* image, std::string& conflict);
    void MendBlobFields(TRecord& rec, bool active);
    // Empty when the chain from `first` is sound for record r; then `blocks`
    // holds it. Otherwise what is wrong with it.
    std::string WalkChain(int32_t r, int32_t first, std::vector<int32_t>& blocks);
    bool IsBlock(int64_t o) const {
        return o >= kBlobHeaderSize && o < m_End && (o - kBlobHeaderSize) % m_B == 0;
    }
    size_t BlockIndex(int64_t o) const { return size_t((o - kBlobHeaderSize) / m_B); }
    std::string RecordLabel(const TRecord& rec) const {
        return "record " + Str(rec.PhysicalNo) + " (ID " + Str(rec.RecordID()) + ")";
    }

    TRun& m_Run;
    TDataFile m_T;
    std::vector<int> m_Slots;  // indexes built from the active records
    std::vector<TBlobField> m_BlobFields;
    TBlobFile* m_Blob = nullptr;
    int64_t m_B = 0, m_End = 0;
    std::vector<int32_t> m_Owner;  // per block: the record whose kept chain holds it, 0 none
    int64_t m_Entries = 0;
};

void TRebuild::Open() {
    m_T.SetFileName(m_Run.DataPath);
    m_T.SetExclusive(true);
    try {
        m_T.OpenTable();
    } catch (const EVeltraEngineError& e) {
        if (e.ErrorCode() != ecHeaderCorrupt && e.ErrorCode() != ecWrongVersion) throw;
        throw ETableRepairRefused(
            std::string("the mended files do not open (the index definitions may be "
                        "damaged): ") +
            e.what() + "; the table cannot be repaired");
    }
    TIndexFile& ix = m_T.IndexFile();
    if (ix.HasPrimaryIndex()) m_Slots.push_back(0);
    for (int s = 1; s <= ix.IndexCount() && s < kDeletedIndexSlot; ++s) m_Slots.push_back(s);
    for (int f = 1; f <= m_T.FieldCount(); ++f) {
        const TFieldDescriptor d = m_T.FieldDescriptor(f);
        if (d.FieldType() == ftBlob && !d.IsComputed())
            m_BlobFields.push_back({f, d.Offset(), "field " + Str(f) + " (" + d.Name() + ")"});
    }
    m_Blob = m_T.BlobFile();
    if (m_Blob) {
        m_B = m_Blob->BlockSize();
        m_End = m_Blob->EndOffset();
        m_Owner.assign(size_t((m_End - kBlobHeaderSize) / m_B), 0);
    }
}

bool TRebuild::IndexRecord(int32_t r, const uint8_t* image, std::string& conflict) {
    TIndexFile& ix = m_T.IndexFile();
    std::vector<std::vector<uint8_t>> keys;
    for (int s : m_Slots) {
        keys.emplace_back(size_t(kMaxKeySize), 0);
        m_T.BuildKey(s, image, keys.back().data());
        // Non-unique keys end with the record ID, unique after the mending.
        if (ix.KeyExists(s, keys.back().data())) {
            conflict = "index slot " + Str(s) + " (" + ix.IndexName(s) + ")";
            return false;
        }
    }
    for (size_t i = 0; i < m_Slots.size(); ++i) ix.InsertKey(m_Slots[i], keys[i].data(), r);
    m_Entries += int64_t(m_Slots.size());
    return true;
}

std::string TRebuild::WalkChain(int32_t r, int32_t first, std::vector<int32_t>& blocks) {
    if (!IsBlock(first))
        return "reference " + Str(first) +
               " is not a block of the BLOB file (blocks at 512 + k x " + Str(m_B) + " below " +
               Str(m_End) + ")";
    const int64_t dataSize = m_B - kBlobBlockHeaderSize;
    std::unordered_set<int32_t> seen;
    int64_t declared = 0, held = 0;
    int32_t prev = 0;
    for (int32_t o = first; o != 0;) {
        if (!seen.insert(o).second) return "chain returns to block " + Str(o) + " (a cycle)";
        if (const int32_t owner = m_Owner[BlockIndex(o)]; owner != 0)
            return "block " + Str(o) + " is in the chain of record " + Str(owner) + " as well";
        const int64_t remaining = declared - held;
        const int readAhead =
            blocks.empty()
                ? 1
                : int(std::clamp<int64_t>((remaining + dataSize - 1) / dataSize, 1, 1 << 16));
        bool changed = false;
        TBlock* b = m_Blob->FetchBlock(o, readAhead, changed);
        if (!b) RaiseEngineError(ecLockFailure, m_Blob->FileName());
        const TBlock h = *b;
        m_Blob->Unpin(b);
        const std::string block = "block " + Str(o);
        if (h.OwnerRecord != r) return block + " names record " + Str(h.OwnerRecord) + " as owner";
        if (h.PrevBlock != prev)
            return block + " has previous link " + Str(h.PrevBlock) + ", expected " + Str(prev);
        if (blocks.empty()) {
            declared = h.TotalSize;
            if (declared <= 0) return block + " declares a length of " + Str(declared);
        } else if (h.TotalSize != 0) {
            return block + " declares a length but is not the first";
        }
        if (h.UsedBytes > dataSize) return block + " holds " + Str(h.UsedBytes) + " used bytes";
        if (h.NextBlock != 0 && h.UsedBytes != dataSize)
            return block + " is not full but not the last";
        held += h.UsedBytes;
        blocks.push_back(o);
        if (h.NextBlock != 0 && !IsBlock(h.NextBlock))
            return block + " links to " + Str(h.NextBlock) +
                   ", not a block of the BLOB file (it ends at " + Str(m_End) + ")";
        if (int64_t(blocks.size()) > int64_t(m_Owner.size()))
            return "chain longer than the BLOB file";
        prev = o;
        o = h.NextBlock;
    }
    const int64_t expected = (declared + dataSize - 1) / dataSize;
    if (held != declared || int64_t(blocks.size()) != expected)
        return "declares " + Str(declared) + " bytes, its chain holds " + Str(held) + " bytes in " +
               Str(int64_t(blocks.size())) + " blocks";
    return {};
}

void TRebuild::MendBlobFields(TRecord& rec, bool active) {
    for (const TBlobField& f : m_BlobFields) {
        uint8_t* p = rec.Buffer.data() + f.Offset;
        const int32_t ref = GetI32(p + 1);
        std::string broken;
        if (active && ref != 0) {
            if (!m_Blob) {
                broken = "reference " + Str(ref) + " without a BLOB file";
            } else {
                std::vector<int32_t> blocks;
                broken = WalkChain(rec.PhysicalNo, ref, blocks);
                if (broken.empty()) {
                    for (int32_t o : blocks) m_Owner[BlockIndex(o)] = rec.PhysicalNo;
                    ++m_Run.Report.BlobChains;
                    if (p[0] != 1) {
                        m_T.MarkRecordDirty(rec);
                        p[0] = 1;
                        m_Run.Note(RecordLabel(rec) + " " + f.Label +
                                   ": null byte with a BLOB reference; set");
                    }
                    continue;
                }
            }
            m_Run.Note(RecordLabel(rec) + " " + f.Label + ": BLOB " + broken +
                       "; the field is emptied");
            ++m_Run.Report.EmptiedBlobFields;
        } else if (ref != 0) {
            m_Run.Note("data file: deleted slot " + Str(rec.PhysicalNo) + " " + f.Label +
                       ": still referenced BLOB block " + Str(ref) + "; reference dropped");
        } else if (p[0] == 0) {
            continue;
        }
        m_T.MarkRecordDirty(rec);
        std::fill(p, p + 5, uint8_t(0));
    }
}

void TRebuild::Records() {
    const int32_t slots = m_T.NextRecordNo() - 1;
    for (int32_t r = 1; r <= slots; ++r) {
        TRecord& rec = *Fetch(r);
        bool active = rec.Status() == 0;
        std::string conflict;
        if (active && !IndexRecord(r, rec.Buffer.data(), conflict)) {
            m_Run.Note(RecordLabel(rec) + ": its key in " + conflict +
                       " is already held by an earlier record; the record is deleted (the backup "
                       "keeps it)");
            m_T.MarkRecordDirty(rec);
            rec.SetStatus(1);
            active = false;
        }
        if (active) ++m_Run.Report.ActiveRecords;
        MendBlobFields(rec, active);
        rec.Unpin();
    }
}

// Deleted slots pushed from the first to the last, as deletions in slot order
// would leave them: the head is the highest; every slot's status and ID into
// the deleted-records index.
void TRebuild::FreeChainAndDeletedIndex() {
    TIndexFile& ix = m_T.IndexFile();
    const bool deletedIndex = ix.HasPrimaryIndex();
    std::vector<uint8_t> key(size_t(kMaxKeySize), 0);
    for (int32_t r = 1; r < m_T.NextRecordNo(); ++r) {
        TRecord& rec = *Fetch(r);
        if (rec.Status() != 0) {
            m_T.FreeRecordSlot(rec);
            ++m_Run.Report.DeletedSlots;
        }
        if (deletedIndex) {
            m_T.BuildKey(kDeletedIndexSlot, rec.Buffer.data(), key.data());
            ix.InsertKey(kDeletedIndexSlot, key.data(), r);
            ++m_Entries;
        }
        rec.Unpin();
    }
    const int64_t active = m_Run.Report.ActiveRecords;
    if (m_Run.OldIndexRecordCount != active)
        m_Run.Note("index file: the header counted " + Str(m_Run.OldIndexRecordCount) +
                   " active records, the data file holds " + Str(active) + ": set");
    ix.SetRecordCount(int32_t(active));
    m_Run.Note("index file: " + Str(int64_t(m_Slots.size()) + (deletedIndex ? 1 : 0)) +
               " indexes built again from the data file (" + Str(m_Entries) + " entries)");
}

// Every block no kept chain holds goes on the free list, the lowest first.
void TRebuild::BlobFreeList() {
    if (!m_Blob) return;
    int64_t reclaimed = 0, taken = 0;
    for (size_t i = m_Owner.size(); i-- > 0;) {
        const bool wasFree = i < m_Run.OldFreeBlocks.size() && m_Run.OldFreeBlocks[i];
        if (m_Owner[i] != 0) {
            if (wasFree) ++taken;
            continue;
        }
        bool changed = false;
        TBlock* b = m_Blob->FetchBlock(int32_t(kBlobHeaderSize + int64_t(i) * m_B), 1, changed);
        if (!b) RaiseEngineError(ecLockFailure, m_Blob->FileName());
        m_Blob->FreeBlock(b);
        m_Blob->Unpin(b);
        if (!wasFree) ++reclaimed;
    }
    m_Run.Report.ReclaimedBlocks = reclaimed;
    if (taken > 0)
        m_Run.Note("BLOB file: " + Str(taken) + (taken == 1 ? " block" : " blocks") +
                   " of sound chains reached from the free list; taken off it");
    if (reclaimed > 0)
        m_Run.Note("BLOB file: " + Str(reclaimed) + (reclaimed == 1 ? " block" : " blocks") +
                   " in no sound chain and not reached from the free list put on the free list");
}

void TRebuild::Run() {
    Open();
    Records();
    FreeChainAndDeletedIndex();
    BlobFreeList();
    m_T.UnpinAll();
    m_T.FlushBuffers(true);
    m_T.CloseTable();
}

}  // namespace

void Rebuild(TRun& run) { TRebuild(run).Run(); }

}  // namespace veltra::repair
