// VerifyTable's BLOB part: the free block list and every chain that an active
// record references. One entry per block of the file records who claimed it
// (the free list or which chain), which finds blocks claimed twice, bounds
// every walk by the block count and leaves the unclaimed blocks to count.
#include <algorithm>
#include <vector>

#include "blob_file.h"
#include "data_file.h"
#include "errors.h"
#include "table_verifier_internal.h"

namespace veltra::verify {

namespace {

std::string Str(int64_t v) { return std::to_string(v); }

constexpr int32_t kFree = -1;  // claim of a block on the free list; chains are numbered from 1

// The header fields of one block, read through the BLOB file's cache.
struct TBlockHeader {
    int32_t Prev = 0, Next = 0, Owner = 0, Total = 0;
    uint16_t Used = 0;
};

class TBlobWalk {
public:
    TBlobWalk(TRun& run, TBlobFile& blob) : m_Run(run), m_Blob(blob) {}

    void Run();

private:
    bool IsBlock(int64_t offset) const {
        return offset >= kBlobHeaderSize && offset < m_End && (offset - kBlobHeaderSize) % m_B == 0;
    }
    size_t IndexOf(int32_t offset) const { return size_t((offset - kBlobHeaderSize) / m_B); }
    std::string NotABlock() const {
        return "not a block of the BLOB file (blocks at 512 + k x " + Str(m_B) + " below " + Str(m_End) + ")";
    }
    std::string ChainLabel(int32_t chain) const;
    // False (with a problem line) when the block cannot be read.
    bool Read(int32_t offset, int readAhead, TBlockHeader& h);
    void WalkFreeList();
    void WalkChain(int32_t chain);

    TRun& m_Run;
    TBlobFile& m_Blob;
    int64_t m_B = 0;
    int64_t m_End = 0;
    std::vector<int32_t> m_Claim;  // per block: 0 unclaimed, kFree, or chain number
    bool m_Complete = true;        // every walk reached its end
};

std::string TBlobWalk::ChainLabel(int32_t chain) const {
    const TBlobRef& ref = m_Run.BlobRefs[size_t(chain - 1)];
    return m_Run.RecordLabel(ref.Record) + " field " + Str(ref.FieldNo) + " (" +
           m_Run.Table.FieldDescriptor(ref.FieldNo).Name() + ")";
}

bool TBlobWalk::Read(int32_t offset, int readAhead, TBlockHeader& h) {
    try {
        bool changed = false;
        TBlock* b = m_Blob.FetchBlock(offset, std::max(1, readAhead), changed);
        if (!b) {
            m_Run.Problem("verify: another process changed the BLOB file during the check");
            m_Complete = false;
            return false;
        }
        h = {b->PrevBlock, b->NextBlock, b->OwnerRecord, b->TotalSize, b->UsedBytes};
        m_Blob.Unpin(b);
        return true;
    } catch (const EVeltraEngineError& e) {
        m_Run.Problem("BLOB block " + Str(offset) + ": cannot be read (" + e.what() + ")");
        m_Complete = false;
        return false;
    }
}

void TBlobWalk::WalkFreeList() {
    int32_t from = 0;
    auto origin = [&] { return from == 0 ? std::string("the header") : "block " + Str(from); };
    for (int32_t o = m_Blob.FirstFreeBlock(); o != 0;) {
        if (!IsBlock(o)) {
            m_Run.Problem("BLOB file: free list: link " + Str(o) + " from " + origin() + " is " + NotABlock());
            m_Complete = false;
            return;
        }
        if (m_Claim[IndexOf(o)] == kFree) {
            m_Run.Problem("BLOB file: free list: block " + Str(o) + " is reached twice (a cycle, the link from " +
                          origin() + ")");
            return;
        }
        m_Claim[IndexOf(o)] = kFree;
        TBlockHeader h;
        if (!Read(o, 1, h)) return;
        from = o;
        o = h.Next;
    }
}

void TBlobWalk::WalkChain(int32_t chain) {
    const TBlobRef& ref = m_Run.BlobRefs[size_t(chain - 1)];
    const std::string label = ChainLabel(chain);
    if (!IsBlock(ref.Offset)) {
        m_Run.Problem(label + ": BLOB reference " + Str(ref.Offset) + " is " + NotABlock());
        return;
    }
    const int64_t dataSize = m_B - kBlobBlockHeaderSize;
    int64_t declared = 0, held = 0, blocks = 0;
    int32_t prev = 0;
    for (int32_t o = ref.Offset; o != 0;) {
        int32_t& claim = m_Claim[IndexOf(o)];
        if (claim == chain) {
            m_Run.Problem(label + ": the BLOB chain returns to block " + Str(o) + " after " + Str(blocks) +
                          " blocks (a cycle)");
            break;
        }
        if (claim == kFree) {
            m_Run.Problem("BLOB block " + Str(o) + ": in the chain of " + label + " and on the free list");
            break;
        }
        if (claim > 0) {
            m_Run.Problem("BLOB block " + Str(o) + ": in the chains of " + ChainLabel(claim) + " and " + label);
            break;
        }
        claim = chain;
        const int64_t remaining = declared - held;
        TBlockHeader h;
        if (!Read(o, blocks == 0 ? 1 : int(std::min<int64_t>((remaining + dataSize - 1) / dataSize, 1 << 16)), h))
            return;
        const std::string block = "BLOB block " + Str(o) + " (chain of " + label + ")";
        if (h.Owner != ref.Record)
            m_Run.Problem(block + ": names record " + Str(h.Owner) + " as owner, expected " + Str(ref.Record));
        if (h.Prev != prev)
            m_Run.Problem(block + ": previous link " + Str(h.Prev) + ", expected " + Str(prev));
        if (blocks == 0) {
            declared = h.Total;
            if (declared <= 0)
                m_Run.Problem(block + ": declared length " + Str(declared) + " in the first block, expected above 0");
        } else if (h.Total != 0) {
            m_Run.Problem(block + ": declared length " + Str(h.Total) + " in a block after the first, expected 0");
        }
        if (h.Used > dataSize)
            m_Run.Problem(block + ": " + Str(h.Used) + " used bytes, more than the " + Str(dataSize) +
                          " a block holds");
        else if (h.Next != 0 && h.Used != dataSize)
            m_Run.Problem(block + ": " + Str(h.Used) + " used bytes in a block that is not the last, expected " +
                          Str(dataSize));
        held += std::min<int64_t>(h.Used, dataSize);
        ++blocks;
        if (h.Next != 0 && !IsBlock(h.Next)) {
            m_Run.Problem(block + ": next link " + Str(h.Next) + " is " + NotABlock());
            m_Complete = false;
            break;
        }
        prev = o;
        o = h.Next;
    }
    const int64_t expectedBlocks = declared > 0 ? (declared + dataSize - 1) / dataSize : 0;
    if (declared > 0 && (held != declared || blocks != expectedBlocks))
        m_Run.Problem(label + ": BLOB declared " + Str(declared) + " bytes (" + Str(expectedBlocks) +
                      " blocks); its chain from block " + Str(ref.Offset) + " holds " + Str(held) + " bytes in " +
                      Str(blocks) + " blocks");
}

void TBlobWalk::Run() {
    m_B = m_Blob.BlockSize();
    m_End = m_Blob.EndOffset();
    TDataFile& t = m_Run.Table;
    const int64_t size = m_Blob.GetSize();
    if (m_B <= kBlobBlockHeaderSize || m_End < kBlobHeaderSize || (m_End - kBlobHeaderSize) % m_B != 0) {
        m_Run.Problem("BLOB file: end offset " + Str(m_End) + " is not 512 + k x " + Str(m_B));
        return;
    }
    // An exclusive table may hold appended blocks that are not written yet.
    if (size != m_End && !(t.Exclusive() && size < m_End))
        m_Run.Problem("BLOB file: " + Str(size) + " bytes; the header's end offset is " + Str(m_End) +
                      " (expected equal)");
    if (size < m_End && !t.Exclusive())
        m_End = kBlobHeaderSize + std::max<int64_t>(0, size - kBlobHeaderSize) / m_B * m_B;
    m_Claim.assign(size_t((m_End - kBlobHeaderSize) / m_B), 0);

    WalkFreeList();
    const auto chains = int32_t(std::min<size_t>(m_Run.BlobRefs.size(), INT32_MAX));
    for (int32_t c = 1; c <= chains; ++c) {
        ++m_Run.Report.BlobChains;
        WalkChain(c);
    }
    if (!m_Complete || !m_Run.RecordsComplete()) return;
    const auto unclaimed = std::count(m_Claim.begin(), m_Claim.end(), 0);
    if (unclaimed > 0) {
        const auto first = std::find(m_Claim.begin(), m_Claim.end(), 0) - m_Claim.begin();
        m_Run.Problem("BLOB file: " + Str(unclaimed) + (unclaimed == 1 ? " block is" : " blocks are") +
                      " in no chain and not on the free list (the first is block " + Str(kBlobHeaderSize + first * m_B) +
                      ")");
    }
}

}  // namespace

void CheckBlobs(TRun& run) {
    if (run.Table.BlobFieldCount() == 0) return;
    TBlobFile* blob = run.Table.BlobFile();
    if (!blob) return;  // reported with the data file header
    TBlobWalk(run, *blob).Run();
}

}  // namespace veltra::verify
