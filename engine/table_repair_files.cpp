// RepairTable's first part: the three files' headers and lengths, mended in
// place so that the table opens, and the record headers (status, ID) made
// sound. Everything that can refuse the repair is checked before the first
// write.
#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "blob_file.h"
#include "byte_order.h"
#include "codec.h"
#include "file_handler.h"
#include "index_file.h"
#include "index_format.h"
#include "platform/locale_services.h"
#include "session.h"
#include "table_format.h"
#include "table_repair_internal.h"

namespace veltra::repair {

std::string Str(int64_t v) { return std::to_string(v); }

namespace {

[[noreturn]] void Refuse(const std::string& file, const std::string& why) {
    throw ETableRepairRefused(file + ": " + why + "; the table cannot be repaired");
}

// Truncates (or extends) a file to `size` bytes.
void CutFile(TFileHandler& file, int64_t size) {
    file.Seek(size);
    file.Write(nullptr, 0);
}

class TDataMender {
  public:
    TDataMender(TRun& run, TFileHandler& file) : m_Run(run), m_File(file) {}

    // Reads and checks header and descriptors; refuses a file that does not
    // describe a table.
    void Check();
    // Writes: length, record headers, header.
    void Mend(bool hasPrimary);

    bool Encrypted() const { return m_H[dh::Encrypted] != 0; }
    int BlobFields() const { return m_BlobFields; }
    int32_t BlobBlockField() const { return GetI32(&m_H[dh::BlobBlockSize]); }

  private:
    struct TSlot {
        uint8_t Status = 0;
        int32_t Link = 0;
        int32_t Id = 0;
        bool Blank = false;  // every byte after the status is zero
    };

    void CutToSlots();
    std::vector<TSlot> ReadSlots();
    void MendSlots(std::vector<TSlot>& slots, bool hasPrimary);
    void CheckFreeChain(const std::vector<TSlot>& slots, bool hasPrimary);
    void RewriteHeader(int32_t slot, const TSlot& s);
    int64_t SlotAt(int32_t slot) const { return m_D + int64_t(slot - 1) * m_RS; }
    std::string Name() const { return m_File.FileName(); }

    TRun& m_Run;
    TFileHandler& m_File;
    std::array<uint8_t, kDataHeaderSize> m_H{};
    std::vector<TFieldDescriptor> m_Fields;
    std::vector<int> m_Physical;  // per field, computed from type and size
    int64_t m_D = 0;
    int m_RS = 0;
    int m_BlobFields = 0;
    int32_t m_Slots = 0;
};

void TDataMender::Check() {
    const int64_t size = m_File.GetSize();
    if (size < kDataHeaderSize)
        Refuse(Name(), Str(size) + " bytes, shorter than the data file header");
    m_File.ReadAt(0, m_H.data(), m_H.size());
    if (m_H[dh::Version] != kFileVersion)
        Refuse(Name(), "version byte " + Str(m_H[dh::Version]) + " (a table file has 3)");
    const int fields = GetU16(&m_H[dh::FieldCount]);
    if (fields < 1 || fields > kMaxFields) Refuse(Name(), "header field count " + Str(fields));
    m_D = kDataHeaderSize + int64_t(fields) * kDescriptorSize;
    if (size < m_D) Refuse(Name(), Str(size) + " bytes, shorter than its field descriptors");
    const uint16_t language = GetU16(&m_H[dh::LanguageID]);
    if (language != 0 && !IsLocaleInstalled(MakeLcid(language, GetU16(&m_H[dh::SortID]))))
        Refuse(Name(), "the table's locale " + Str(language) + " is not installed");
    if (Encrypted()) {
        std::string password = GetShortString(&m_H[dh::Password], kMaxPasswordLength);
        Scramble(reinterpret_cast<uint8_t*>(password.data()), password.size(), kPasswordKey);
        if (!HasPassword(password))
            Refuse(Name(), "the table is encrypted and its password was not given");
    }

    std::vector<uint8_t> block(size_t(fields) * kDescriptorSize);
    m_File.ReadAt(kDataHeaderSize, block.data(), block.size());
    if (Encrypted()) Scramble(block.data(), block.size() & 0xFFFF, kTableKey);
    int running = kRecordHeaderSize;
    for (int i = 0; i < fields; ++i) {
        TFieldDescriptor d;
        std::memcpy(d.Bytes.data(), &block[size_t(i) * kDescriptorSize], kDescriptorSize);
        const int physical = PhysicalSizeFor(d.FieldType(), d.Size());
        const int expected = d.IsAutoIncrement() ? 5 : d.IsComputed() ? 0 : running;
        if (d.FieldNo() != i + 1 || d.Offset() != expected)
            Refuse(Name(), "field descriptor " + Str(i + 1) + " is damaged (number " +
                               Str(d.FieldNo()) + ", offset " + Str(d.Offset()) + ", expected " +
                               Str(expected) + ")");
        if (!d.IsAutoIncrement() && !d.IsComputed()) running += physical + 1;
        if (d.FieldType() == ftBlob) ++m_BlobFields;
        m_Fields.push_back(d);
        m_Physical.push_back(physical);
    }
    if (running > 0xFFFF)
        Refuse(Name(), "the field descriptors add up to a record of " + Str(running) + " bytes");
    m_RS = running;
    if (m_BlobFields > 0 && BlobBlockSizeFrom(BlobBlockField()) <= kBlobBlockHeaderSize)
        Refuse(Name(), "BLOB block size " + Str(BlobBlockSizeFrom(BlobBlockField())));
}

void TDataMender::Mend(bool hasPrimary) {
    const int headerRS = GetU16(&m_H[dh::RecordSize]);
    if (headerRS != m_RS) {
        m_Run.Note("data file: header record size " + Str(headerRS) +
                   ", the field descriptors add up to " + Str(m_RS) + ": set to " + Str(m_RS));
        PutU16(&m_H[dh::RecordSize], uint16_t(m_RS));
    }
    if (GetI16(&m_H[dh::BlobFieldCount]) != m_BlobFields) {
        m_Run.Note("data file: header BLOB field count " + Str(GetI16(&m_H[dh::BlobFieldCount])) +
                   ", the descriptors hold " + Str(m_BlobFields) + ": set");
        PutI16(&m_H[dh::BlobFieldCount], int16_t(m_BlobFields));
    }
    CutToSlots();
    std::vector<TSlot> slots = ReadSlots();
    CheckFreeChain(slots, hasPrimary);
    MendSlots(slots, hasPrimary);

    const int32_t next = GetI32(&m_H[dh::NextRecordNo]);
    if (next != m_Slots + 1)
        m_Run.Note("data file: header next record number " + Str(next) + ", the file holds " +
                   Str(m_Slots) + " slots: set to " + Str(m_Slots + 1));
    PutI32(&m_H[dh::NextRecordNo], m_Slots + 1);
    // The rebuild pushes every deleted slot on a new chain.
    PutI32(&m_H[dh::FirstFreeRecord], 0);
    PutI32(&m_H[dh::ChangeCount], GetI32(&m_H[dh::ChangeCount]) + 1);
    PutF64(&m_H[dh::LastUpdated], NowAsDateTime());
    m_H[dh::HeaderDirty] = 0;
    m_File.WriteAt(0, m_H.data(), m_H.size());
}

// Whole slots are kept. A partly written last slot is kept when its record
// header is whole and names an active record; its fields that reach past the
// end of the file become null.
void TDataMender::CutToSlots() {
    const int64_t size = m_File.GetSize();
    const int64_t whole = (size - m_D) / m_RS;
    const int64_t rest = (size - m_D) % m_RS;
    if (whole + (rest > 0 ? 1 : 0) > kMaxRecordNumber)
        Refuse(Name(), "more than " + Str(kMaxRecordNumber) + " slots");
    m_Slots = int32_t(whole);
    if (rest == 0) return;
    const int32_t slot = m_Slots + 1;
    std::vector<uint8_t> image(size_t(m_RS), 0);
    m_File.ReadAt(SlotAt(slot), image.data(), size_t(rest));
    if (Encrypted()) Scramble(image.data(), size_t(rest), kTableKey);
    const std::string part = Str(rest) + " of " + Str(m_RS) + " bytes";
    const int32_t id = GetI32(&image[5]);
    std::string unreadable;
    if (rest < kRecordHeaderSize)
        unreadable = "its record header is incomplete";
    else if (image[0] == 1)
        unreadable = "it is a deleted slot";
    else if (image[0] != 0)
        unreadable = "status byte " + Str(image[0]);
    else if (id < 1)
        unreadable = "record ID " + Str(id);
    if (!unreadable.empty()) {
        m_Run.Note("data file: the last slot " + Str(slot) + " was written only in part (" + part +
                   ") and is unreadable (" + unreadable + "): dropped");
        CutFile(m_File, SlotAt(slot));
        return;
    }
    std::string lost;
    for (size_t f = 0; f < m_Fields.size(); ++f) {
        const TFieldDescriptor& d = m_Fields[f];
        if (d.IsAutoIncrement() || d.IsComputed()) continue;
        const int64_t end = d.Offset() + m_Physical[f] + 1;
        if (end <= rest) continue;
        std::fill(image.begin() + d.Offset(), image.begin() + end, uint8_t(0));
        lost += (lost.empty() ? "" : ", ") + d.Name();
    }
    m_Run.Note("record " + Str(slot) + " (ID " + Str(id) +
               "): the last slot was written only in part (" + part + "); kept, with " + lost +
               " null");
    if (Encrypted()) Scramble(image.data(), image.size(), kTableKey);
    m_File.WriteAt(SlotAt(slot), image.data(), image.size());
    m_Slots = slot;
}

std::vector<TDataMender::TSlot> TDataMender::ReadSlots() {
    std::vector<TSlot> slots(size_t(m_Slots) + 1);
    const int32_t batch = std::max(1, (1 << 20) / m_RS);
    std::vector<uint8_t> chunk;
    for (int32_t first = 1; first <= m_Slots; first += batch) {
        const int32_t count = std::min(batch, m_Slots - first + 1);
        chunk.resize(size_t(count) * size_t(m_RS));
        m_File.ReadAt(SlotAt(first), chunk.data(), chunk.size());
        for (int32_t i = 0; i < count; ++i) {
            uint8_t* image = &chunk[size_t(i) * size_t(m_RS)];
            if (Encrypted()) Scramble(image, size_t(m_RS), kTableKey);
            TSlot& s = slots[size_t(first + i)];
            s.Status = image[0];
            s.Link = GetI32(image + 1);
            s.Id = GetI32(image + 5);
            s.Blank = std::all_of(image + 1, image + m_RS, [](uint8_t b) { return b == 0; });
        }
    }
    return slots;
}

// The old chain is replaced in any case; say so when it was not sound.
void TDataMender::CheckFreeChain(const std::vector<TSlot>& slots, bool hasPrimary) {
    std::vector<bool> seen(slots.size(), false);
    int64_t length = 0;
    std::string fault;
    for (int32_t s = GetI32(&m_H[dh::FirstFreeRecord]); s != 0;) {
        if (s < 1 || s > m_Slots)
            fault = "link " + Str(s) + " is not a slot of the file";
        else if (seen[size_t(s)])
            fault = "slot " + Str(s) + " is reached twice";
        else if (slots[size_t(s)].Status != 1)
            fault = "slot " + Str(s) + " on it is not deleted";
        if (!fault.empty()) break;
        seen[size_t(s)] = true;
        ++length;
        s = slots[size_t(s)].Link;
    }
    const auto deleted =
        std::count_if(slots.begin() + 1, slots.end(), [](const TSlot& s) { return s.Status == 1; });
    if (fault.empty() && hasPrimary && length != deleted)
        fault = Str(length) + " slots on it, " + Str(deleted) + " deleted slots in the file";
    if (!fault.empty()) m_Run.Note("free chain: " + fault + "; built again");
}

void TDataMender::MendSlots(std::vector<TSlot>& slots, bool hasPrimary) {
    (void)hasPrimary;
    int32_t last = std::max(0, GetI32(&m_H[dh::LastRecordID]));
    for (int32_t r = 1; r <= m_Slots; ++r) last = std::max(last, slots[size_t(r)].Id);
    auto newId = [&](int32_t slot) {
        if (last == INT32_MAX) Refuse(Name(), "no record ID is left for slot " + Str(slot));
        return ++last;
    };
    std::unordered_set<int32_t> activeIds, deletedIds;
    for (int32_t r = 1; r <= m_Slots; ++r) {
        TSlot& s = slots[size_t(r)];
        const TSlot before = s;
        const std::string slot = "data file: slot " + Str(r);
        if (s.Status > 1) {
            const bool active = s.Link == r && s.Id >= 1;
            m_Run.Note(slot + ": status byte " + Str(s.Status) + "; taken as " +
                       (active ? "active (its link is its own number)" : "deleted"));
            s.Status = active ? 0 : 1;
        } else if (s.Status == 0 && s.Blank) {
            m_Run.Note(slot + ": active but never written (all bytes zero); made a deleted slot");
            s.Status = 1;
        }
        if (s.Status == 0) {
            if (s.Id < 1 || activeIds.count(s.Id)) {
                const int32_t id = newId(r);
                m_Run.Note(
                    "record " + Str(r) + " (ID " + Str(s.Id) + "): " +
                    (s.Id < 1 ? "record ID below 1" : "record ID carried by an earlier record") +
                    "; given ID " + Str(id));
                s.Id = id;
            }
            activeIds.insert(s.Id);
        } else if (!deletedIds.insert(s.Id).second) {
            // Keys of the deleted-records index are status and ID.
            const int32_t id = newId(r);
            m_Run.Note(slot + ": deleted, with record ID " + Str(s.Id) +
                       " of another deleted slot; given ID " + Str(id));
            s.Id = id;
            deletedIds.insert(id);
        }
        if (s.Status != before.Status || s.Id != before.Id) RewriteHeader(r, s);
    }
    if (last != GetI32(&m_H[dh::LastRecordID])) {
        m_Run.Note("data file: header last record ID " + Str(GetI32(&m_H[dh::LastRecordID])) +
                   ", records carry IDs up to " + Str(last) + ": set to " + Str(last));
        PutI32(&m_H[dh::LastRecordID], last);
    }
}

void TDataMender::RewriteHeader(int32_t slot, const TSlot& s) {
    std::vector<uint8_t> image(static_cast<size_t>(m_RS), 0);
    m_File.ReadAt(SlotAt(slot), image.data(), image.size());
    if (Encrypted()) Scramble(image.data(), image.size(), kTableKey);
    image[0] = s.Status;
    PutI32(&image[1], s.Status == 0 ? slot : 0);
    PutI32(&image[5], s.Id);
    if (Encrypted()) Scramble(image.data(), image.size(), kTableKey);
    m_File.WriteAt(SlotAt(slot), image.data(), image.size());
}

// The index header keeps the definitions; every tree, free list, the end
// offset and the record count start again. Returns the no-primary flag.
class TIndexMender {
  public:
    TIndexMender(TRun& run, TFileHandler& file, bool encrypted)
        : m_Run(run), m_File(file), m_Encrypted(encrypted) {}

    void Check() {
        const int64_t size = m_File.GetSize();
        if (size < kIndexBlockSize)
            Refuse(m_File.FileName(), Str(size) + " bytes, shorter than its " +
                                          Str(kIndexBlockSize) +
                                          "-byte header: the index definitions are lost");
        m_File.ReadAt(0, m_H.data(), m_H.size());
        if (m_Encrypted) Scramble(m_H.data(), m_H.size(), kTableKey);
        if (m_H[ih::SecondaryCount] > kMaxSecondaryIndexes)
            Refuse(m_File.FileName(),
                   "header counts " + Str(m_H[ih::SecondaryCount]) + " secondary indexes");
    }
    bool HasPrimary() const { return m_H[ih::NoPrimaryIndex] == 0; }

    void Mend() {
        if (m_H[ih::Version] != kFileVersion) {
            m_Run.Note("index file: version byte " + Str(m_H[ih::Version]) + ": set to 3");
            m_H[ih::Version] = kFileVersion;
        }
        m_Run.OldIndexRecordCount = GetI32(&m_H[ih::RecordCount]);
        const auto fresh = TIndexFile::NewHeaderImage();
        const size_t deleted =
            size_t(ih::Descriptors) + size_t(kDeletedIndexSlot) * kIndexDescriptorSize;
        std::memcpy(&m_H[deleted], &fresh[deleted], kIndexDescriptorSize);
        for (int slot = 0; slot < kIndexSlotCount; ++slot) {
            uint8_t* d = &m_H[size_t(ih::Descriptors) + size_t(slot) * kIndexDescriptorSize];
            PutI32(d + id::Root, 0);
            PutI32(d + id::FreeHead, 0);
        }
        PutI32(&m_H[ih::EndOffset], kIndexBlockSize);
        PutI32(&m_H[ih::RecordCount], 0);
        m_H[ih::HeaderChanged] = 0;
        PutI32(&m_H[ih::ChangeCount], GetI32(&m_H[ih::ChangeCount]) + 1);
        if (m_Encrypted) Scramble(m_H.data(), m_H.size(), kTableKey);
        m_File.WriteAt(0, m_H.data(), m_H.size());
        CutFile(m_File, kIndexBlockSize);
    }

  private:
    TRun& m_Run;
    TFileHandler& m_File;
    bool m_Encrypted;
    std::array<uint8_t, kIndexBlockSize> m_H{};
};

// The BLOB file cut to whole blocks, its end offset the end of the file and
// its free list empty (the rebuild frees every block no chain keeps). The old
// free list is remembered to tell leaked blocks from free ones.
void MendBlobFile(TRun& run, TFileHandler& file, int blockSize, bool encrypted) {
    const int64_t B = blockSize;
    const int64_t size = file.GetSize();
    std::array<uint8_t, kBlobHeaderSize> h = TBlobFile::NewHeaderImage();
    if (size < kBlobHeaderSize) {
        run.Note("BLOB file: " + Str(size) +
                 " bytes, shorter than its header: header written anew");
    } else {
        file.ReadAt(0, h.data(), h.size());
        if (encrypted) Scramble(h.data(), h.size(), kTableKey);
    }
    const int64_t blocks = std::max<int64_t>(0, size - kBlobHeaderSize) / B;
    const int64_t end = kBlobHeaderSize + blocks * B;
    if (size > end && size >= kBlobHeaderSize)
        run.Note("BLOB file: a partly written last block (" + Str(size - end) + " of " + Str(B) +
                 " bytes) dropped");
    if (h[bh::Version] != kFileVersion) {
        run.Note("BLOB file: version byte " + Str(h[bh::Version]) + ": set to 3");
        h[bh::Version] = kFileVersion;
    }
    if (GetI32(&h[bh::EndOffset]) != end)
        run.Note("BLOB file: header end offset " + Str(GetI32(&h[bh::EndOffset])) +
                 ", the file ends at " + Str(end) + ": set to " + Str(end));

    run.OldFreeBlocks.assign(size_t(blocks), false);
    for (int64_t o = GetI32(&h[bh::FirstFreeBlock]); o != 0;) {
        if (o < kBlobHeaderSize || o >= end || (o - kBlobHeaderSize) % B != 0) {
            run.Note("BLOB file: free list: link " + Str(o) +
                     " is not a block of the file; built again");
            break;
        }
        const size_t at = size_t((o - kBlobHeaderSize) / B);
        if (run.OldFreeBlocks[at]) {
            run.Note("BLOB file: free list: block " + Str(o) + " is reached twice; built again");
            break;
        }
        run.OldFreeBlocks[at] = true;
        uint8_t block[kBlobBlockHeaderSize];
        file.ReadAt(o, block, sizeof block);
        if (encrypted) Scramble(block, sizeof block, kTableKey);
        o = GetI32(block + 4);
    }

    PutI32(&h[bh::FirstFreeBlock], 0);
    PutI32(&h[bh::EndOffset], int32_t(end));
    PutI32(&h[bh::ChangeCount], GetI32(&h[bh::ChangeCount]) + 1);
    h[bh::HeaderDirty] = 0;
    if (encrypted) Scramble(h.data(), h.size(), kTableKey);
    file.WriteAt(0, h.data(), h.size());
    CutFile(file, end);
}

}  // namespace

void MendFiles(TRun& run, TFileHandler& data, TFileHandler& index, TFileHandler* blob) {
    TDataMender dataMender(run, data);
    dataMender.Check();
    TIndexMender indexMender(run, index, dataMender.Encrypted());
    indexMender.Check();

    dataMender.Mend(indexMender.HasPrimary());
    indexMender.Mend();
    if (dataMender.BlobFields() == 0) return;
    const int blockSize = BlobBlockSizeFrom(dataMender.BlobBlockField());
    if (blob) {
        MendBlobFile(run, *blob, blockSize, dataMender.Encrypted());
        return;
    }
    TFileHandler created;
    created.SetFileName(run.BlobPath);
    created.SetExclusive(true);
    created.CreateFile();
    run.BlobCreated = true;
    run.Note("BLOB file: missing; created empty, so every BLOB reference is broken");
    auto h = TBlobFile::NewHeaderImage();
    if (dataMender.Encrypted()) Scramble(h.data(), h.size(), kTableKey);
    created.WriteAt(0, h.data(), h.size());
    created.Flush();
    created.Close();
}

}  // namespace veltra::repair
