#include "index_file.h"

#include <cstring>

#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "table_format.h"

namespace veltra {

std::string TIndexDescriptor::Name() const { return GetShortString(&Bytes[id::Name], 30); }
void TIndexDescriptor::SetName(const std::string& name) { PutShortString(&Bytes[id::Name], 30, name); }
uint16_t TIndexDescriptor::KeySize() const { return GetU16(&Bytes[id::KeySize]); }
uint16_t TIndexDescriptor::FieldNumber(int i) const { return GetU16(&Bytes[id::FieldNumbers + 2 * i]); }
int32_t TIndexDescriptor::Root() const { return GetI32(&Bytes[id::Root]); }
int32_t TIndexDescriptor::FreeHead() const { return GetI32(&Bytes[id::FreeHead]); }

TIndexFile::TIndexFile(TDataFile& owner) : m_Owner(owner) {}
TIndexFile::~TIndexFile() = default;

std::string TIndexFile::ExpandFileName(const std::string& name) const {
    return TFileHandler::ExpandFileName(ForceExtension(name, "IDX"));
}

void TIndexFile::Open() {
    if (IsOpen()) return;
    m_Locks.Reset();
    TFileHandler::Open();
    try {
        ReadHeader();
        if (m_Header[ih::Version] != kFileVersion) Raise(ecWrongVersion);
        ValidateHeader();
    } catch (...) {
        Close();
        throw;
    }
}

void TIndexFile::Close() {
    TFileHandler::Close();
    m_Locks.Reset();
}

// Everything later code will use as an offset, count or size must be possible
// for this table: a header that fails these checks is reported as corrupt
// before any page is read.
void TIndexFile::ValidateHeader() {
    int32_t end = EndOffset();
    bool bad = end < kIndexBlockSize || end % kIndexBlockSize != 0 || end > kMaxIndexFileOffset + kIndexBlockSize ||
               IndexCount() > kMaxSecondaryIndexes || RecordCount() < 0 ||
               GetSize() < end;
    auto badOffset = [&](int32_t o) {
        return o != 0 && (o < kIndexBlockSize || o % kIndexBlockSize != 0 || o >= end);
    };
    for (int slot = 0; slot < kIndexSlotCount && !bad; ++slot) {
        if (slot > IndexCount() && slot != kDeletedIndexSlot) continue;
        TIndexDescriptor d = ReadDescriptor(slot);
        bool noPrimary = slot == 0 && !HasPrimaryIndex();
        if (noPrimary) {
            bad = d.Root() != 0;
            continue;
        }
        bad = d.KeySize() < 1 || d.KeySize() > kMaxKeySize || d.Compression() > 3 ||
              badOffset(d.Root()) || badOffset(d.FreeHead());
        if (slot == kDeletedIndexSlot) {
            bad = bad || d.KeySize() != 5 || d.FieldCount() != 0;
            continue;
        }
        bad = bad || d.FieldCount() < 1 || d.FieldCount() > kMaxIndexFields;
        int keySize = 0;
        for (int i = 0; i < d.FieldCount() && !bad; ++i) {
            int f = d.FieldNumber(i);
            bad = f < 1 || f > m_Owner.FieldCount();
            if (!bad) keySize += m_Owner.FieldDescriptor(f).PhysicalSize() + 1;
        }
        if (!bad) {
            bool suffix = slot != 0 && !d.Unique();
            bad = keySize + (suffix ? 4 : 0) != d.KeySize();
        }
    }
    if (bad) Raise(ecHeaderCorrupt);
}

std::array<uint8_t, kIndexBlockSize> TIndexFile::NewHeaderImage() {
    std::array<uint8_t, kIndexBlockSize> h{};
    h[ih::Version] = kFileVersion;
    PutI32(&h[ih::EndOffset], kIndexBlockSize);
    TIndexDescriptor deleted;
    deleted.SetName(kDeletedIndexName);
    PutU16(&deleted.Bytes[id::KeySize], 5);
    std::memcpy(&h[ih::Descriptors + kDeletedIndexSlot * kIndexDescriptorSize], deleted.Bytes.data(),
                kIndexDescriptorSize);
    return h;
}

void TIndexFile::CreateHeader() {
    m_Header = NewHeaderImage();
    WriteHeader(true);
}

void TIndexFile::ReadHeader() {
    ReadAt(0, m_Header.data(), kIndexBlockSize);
    if (m_Owner.Encrypted()) Scramble(m_Header.data(), kIndexBlockSize, kTableKey);
    m_Header[ih::HeaderChanged] = 0;
}

void TIndexFile::WriteHeader(bool force) {
    if (!force && m_Header[ih::HeaderChanged] == 0) return;
    PutI32(&m_Header[ih::ChangeCount], ChangeCount() + 1);
    std::array<uint8_t, kIndexBlockSize> image = m_Header;
    if (m_Owner.Encrypted()) Scramble(image.data(), kIndexBlockSize, kTableKey);
    WriteAt(0, image.data(), kIndexBlockSize);
    m_Header[ih::HeaderChanged] = 0;
}

bool TIndexFile::HeaderChanged() {
    uint8_t counter[4];
    ReadAt(0, counter, 4);
    if (m_Owner.Encrypted()) Scramble(counter, 4, kTableKey);
    if (GetI32(counter) == ChangeCount()) return false;
    ReadHeader();
    if (m_Header[ih::Version] != kFileVersion) Raise(ecWrongVersion);
    ValidateHeader();
    return true;
}

TIndexDescriptor TIndexFile::ReadDescriptor(int slot) const {
    TIndexDescriptor d;
    if (slot < 0 || slot >= kIndexSlotCount) return d;
    std::memcpy(d.Bytes.data(), &m_Header[ih::Descriptors + slot * kIndexDescriptorSize],
                kIndexDescriptorSize);
    return d;
}

void TIndexFile::SetDescriptor(int slot, const TIndexDescriptor& descriptor) {
    if (slot < 0 || slot >= kIndexSlotCount) return;
    std::memcpy(&m_Header[ih::Descriptors + slot * kIndexDescriptorSize], descriptor.Bytes.data(),
                kIndexDescriptorSize);
    MarkChanged();
}

void TIndexFile::SetIndexCount(int count) {
    m_Header[ih::SecondaryCount] = uint8_t(count);
    MarkChanged();
}

void TIndexFile::SetNoPrimaryIndex(bool value) {
    m_Header[ih::NoPrimaryIndex] = value ? 1 : 0;
    MarkChanged();
}

int32_t TIndexFile::ChangeCount() const { return GetI32(&m_Header[ih::ChangeCount]); }
int32_t TIndexFile::EndOffset() const { return GetI32(&m_Header[ih::EndOffset]); }
int32_t TIndexFile::RecordCount() const { return GetI32(&m_Header[ih::RecordCount]); }

void TIndexFile::IncrementRecordCount() { SetRecordCount(RecordCount() + 1); }
void TIndexFile::DecrementRecordCount() { SetRecordCount(RecordCount() - 1); }
void TIndexFile::SetRecordCount(int32_t count) {
    PutI32(&m_Header[ih::RecordCount], count);
    MarkChanged();
}

void TIndexFile::FlushPages() {}
void TIndexFile::InvalidatePages() {}
void TIndexFile::UnpinAllPages() {}

bool TIndexFile::AcquireReadLock() { return m_Locks.AcquireRead(); }
bool TIndexFile::ReleaseReadLock() { return m_Locks.ReleaseRead(); }
bool TIndexFile::AcquireWriteLock() { return m_Locks.AcquireWrite(); }
bool TIndexFile::ReleaseWriteLock() { return m_Locks.ReleaseWrite(); }

}  // namespace veltra
