#include "blob_file.h"

#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "table_format.h"

namespace veltra {

TBlobFile::TBlobFile(TDataFile& owner) : m_Owner(owner) {}
TBlobFile::~TBlobFile() = default;

std::string TBlobFile::ExpandFileName(const std::string& name) const {
    return TFileHandler::ExpandFileName(ForceExtension(name, "BLB"));
}

void TBlobFile::Open() {
    if (IsOpen()) return;
    m_Locks.Reset();
    m_BlockSize = m_Owner.BlobBlockSize();
    TFileHandler::Open();
    try {
        ReadHeader();
        if (m_Header[bh::Version] != kFileVersion) Raise(ecWrongVersion);
        ValidateHeader();
    } catch (...) {
        Close();
        throw;
    }
}

void TBlobFile::Close() {
    TFileHandler::Close();
    m_Locks.Reset();
}

void TBlobFile::ValidateHeader() {
    const int64_t b = m_BlockSize;
    auto isBlock = [&](int64_t o) {
        return o >= kBlobHeaderSize && (o - kBlobHeaderSize) % b == 0 && o < EndOffset();
    };
    int32_t end = EndOffset();
    bool bad = b <= kBlobBlockHeaderSize || end < kBlobHeaderSize ||
               (end - kBlobHeaderSize) % b != 0 || GetSize() < end ||
               (FirstFreeBlock() != 0 && !isBlock(FirstFreeBlock()));
    if (bad) Raise(ecHeaderCorrupt);
}

std::array<uint8_t, kBlobHeaderSize> TBlobFile::NewHeaderImage() {
    std::array<uint8_t, kBlobHeaderSize> h{};
    h[bh::Version] = kFileVersion;
    PutI32(&h[bh::EndOffset], kBlobHeaderSize);
    return h;
}

void TBlobFile::CreateHeader() {
    m_Header = NewHeaderImage();
    WriteHeader(true);
}

void TBlobFile::ReadHeader() {
    ReadAt(0, m_Header.data(), kBlobHeaderSize);
    if (m_Owner.Encrypted()) Scramble(m_Header.data(), kBlobHeaderSize, kTableKey);
    m_Header[bh::HeaderDirty] = 0;
}

void TBlobFile::WriteHeader(bool force) {
    if (!force && m_Header[bh::HeaderDirty] == 0) return;
    PutI32(&m_Header[bh::ChangeCount], ChangeCount() + 1);
    std::array<uint8_t, kBlobHeaderSize> image = m_Header;
    if (m_Owner.Encrypted()) Scramble(image.data(), kBlobHeaderSize, kTableKey);
    WriteAt(0, image.data(), kBlobHeaderSize);
    m_Header[bh::HeaderDirty] = 0;
}

bool TBlobFile::HeaderChanged() {
    uint8_t counter[4];
    ReadAt(0, counter, 4);
    if (m_Owner.Encrypted()) Scramble(counter, 4, kTableKey);
    if (GetI32(counter) == ChangeCount()) return false;
    ReadHeader();
    if (m_Header[bh::Version] != kFileVersion) Raise(ecWrongVersion);
    ValidateHeader();
    return true;
}

int32_t TBlobFile::ChangeCount() const { return GetI32(&m_Header[bh::ChangeCount]); }
int32_t TBlobFile::FirstFreeBlock() const { return GetI32(&m_Header[bh::FirstFreeBlock]); }
int32_t TBlobFile::EndOffset() const { return GetI32(&m_Header[bh::EndOffset]); }

void TBlobFile::FlushBlocks() {}
void TBlobFile::DiscardBlocks() {}
void TBlobFile::UnpinAllBlocks() {}

bool TBlobFile::AcquireReadLock() { return m_Locks.AcquireRead(); }
bool TBlobFile::ReleaseReadLock() { return m_Locks.ReleaseRead(); }
bool TBlobFile::AcquireWriteLock() { return m_Locks.AcquireWrite(); }
bool TBlobFile::ReleaseWriteLock() { return m_Locks.ReleaseWrite(); }

}  // namespace veltra
