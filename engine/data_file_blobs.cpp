// TDataFile's BLOB field operations on record buffers. While a BLOB is open
// its field in the in-memory record holds the open BLOB's handle (-1 .. -64)
// instead of the first block offset; the handle never reaches the file,
// because StoreOpenBlobOffsets / CloseBlobField put the offset back.
#include <string>

#include "blob_file.h"
#include "data_file.h"
#include "errors.h"
#include "session.h"

namespace veltra {

namespace {

// Leaves the code in the session's error context, as a raised error would,
// so that the caller's CheckEngineResult names the table and the field.
int Report(int code, const std::string& fileName, const std::string& fieldName) {
    StoreEngineErrorContext(code, fileName, fieldName);
    return code;
}

// The descriptor of BLOB field `fieldNo`, or nullptr when there is no such
// field or it is of another type.
const TFieldDescriptor* BlobDescriptor(const std::vector<TFieldDescriptor>& fields, int fieldNo) {
    if (fieldNo < 1 || fieldNo > int(fields.size())) return nullptr;
    const TFieldDescriptor& d = fields[size_t(fieldNo - 1)];
    return d.FieldType() == ftBlob ? &d : nullptr;
}

std::string FieldLabel(const std::vector<TFieldDescriptor>& fields, int fieldNo) {
    if (fieldNo < 1 || fieldNo > int(fields.size())) return std::to_string(fieldNo);
    return fields[size_t(fieldNo - 1)].Name();
}

void SetNullByte(uint8_t* field, bool hasValue) { field[0] = hasValue ? 1 : 0; }

}  // namespace

int TDataFile::OpenBlobField(int fieldNo, int mode, uint8_t* record) {
    const TFieldDescriptor* d = BlobDescriptor(m_Descriptors, fieldNo);
    TBlobFile* blob = BlobFile();
    if (!d || !blob) return Report(ecInvalidBlobField, FileName(), FieldLabel(m_Descriptors, fieldNo));
    uint8_t* field = record + d->Offset();
    int32_t value = GetI32(field + 1);
    if (IsBlobHandle(value))
        return blob->IsBlobOpen(value) ? ecOK : Report(ecInvalidBlobOffset, FileName(), d->Name());
    int32_t handle = 0;
    int code = blob->OpenBlob(value, fieldNo, GetI32(record + 1), mode, handle);
    if (code != ecOK) return code;
    int64_t size = 0;
    blob->GetBlobSize(handle, size);
    PutI32(field + 1, handle);
    SetNullByte(field, size > 0);
    return ecOK;
}

int TDataFile::OpenBlobOf(int fieldNo, const uint8_t* record, const TFieldDescriptor*& d, TBlobFile*& blob,
                          int32_t& handle) {
    d = BlobDescriptor(m_Descriptors, fieldNo);
    blob = BlobFile();
    if (!d || !blob) return Report(ecInvalidBlobField, FileName(), FieldLabel(m_Descriptors, fieldNo));
    handle = GetI32(record + d->Offset() + 1);
    if (!IsBlobHandle(handle) || !blob->IsBlobOpen(handle))
        return Report(ecInvalidBlobHandle, FileName(), d->Name());
    return ecOK;
}

int TDataFile::CloseBlobField(int fieldNo, uint8_t* record) {
    const TFieldDescriptor* d;
    TBlobFile* blob;
    int32_t handle;
    if (int code = OpenBlobOf(fieldNo, record, d, blob, handle)) return code;
    uint8_t* field = record + d->Offset();
    int32_t first = blob->CloseBlob(handle);
    PutI32(field + 1, first);
    SetNullByte(field, first != 0);
    return ecOK;
}

int TDataFile::ReadBlobField(int fieldNo, const uint8_t* record, int64_t position, int64_t count,
                             uint8_t* buffer, int64_t& bytesRead) {
    bytesRead = 0;
    const TFieldDescriptor* d;
    TBlobFile* blob;
    int32_t handle;
    if (int code = OpenBlobOf(fieldNo, record, d, blob, handle)) return code;
    return blob->ReadBlob(handle, position, count, buffer, bytesRead);
}

int TDataFile::WriteBlobField(int fieldNo, uint8_t* record, int64_t position, int64_t count,
                              const uint8_t* buffer) {
    const TFieldDescriptor* d;
    TBlobFile* blob;
    int32_t handle;
    if (int code = OpenBlobOf(fieldNo, record, d, blob, handle)) return code;
    uint8_t* field = record + d->Offset();
    int code = blob->WriteBlob(handle, position, count, buffer);
    int64_t size = 0;
    blob->GetBlobSize(handle, size);
    SetNullByte(field, size > 0);
    return code;
}

int TDataFile::TruncateBlobField(int fieldNo, uint8_t* record, int64_t size) {
    const TFieldDescriptor* d;
    TBlobFile* blob;
    int32_t handle;
    if (int code = OpenBlobOf(fieldNo, record, d, blob, handle)) return code;
    uint8_t* field = record + d->Offset();
    int code = blob->TruncateBlob(handle, size);
    int64_t now = 0;
    blob->GetBlobSize(handle, now);
    SetNullByte(field, now > 0);
    return code;
}

int TDataFile::BlobFieldSize(int fieldNo, const uint8_t* record, int64_t& size) {
    size = 0;
    const TFieldDescriptor* d;
    TBlobFile* blob;
    int32_t handle;
    if (int code = OpenBlobOf(fieldNo, record, d, blob, handle)) return code;
    return blob->GetBlobSize(handle, size);
}

bool TDataFile::IsBlobFieldOpen(int fieldNo, const uint8_t* record) {
    const TFieldDescriptor* d = BlobDescriptor(m_Descriptors, fieldNo);
    TBlobFile* blob = BlobFile();
    if (!d || !blob) return false;
    int32_t handle = GetI32(record + d->Offset() + 1);
    return IsBlobHandle(handle) && blob->IsBlobOpen(handle);
}

}  // namespace veltra
