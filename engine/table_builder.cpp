#include "table_builder.h"

#include <cstring>

#include "blob_file.h"
#include "codec.h"
#include "errors.h"
#include "file_handler.h"
#include "index_file.h"
#include "platform/locale_services.h"

namespace veltra {

namespace {

bool IsNameStart(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 129 && c <= 254);
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return s;
}

bool ValidName(const std::string& name, size_t maxLength) {
    return !name.empty() && name.size() <= maxLength && IsNameStart(uint8_t(name[0]));
}

// The checked definition, ready to be written.
struct TLayout {
    std::vector<TFieldDescriptor> Descriptors;
    int RecordSize = kRecordHeaderSize;
    int BlobFields = 0;
    std::array<uint8_t, kIndexBlockSize> IndexHeader{};
};

class TBuilder {
public:
    TBuilder(const std::string& fileName, const TTableDef& def)
        : m_File(ForceExtension(fileName, "DAT")), m_Def(def) {}

    TLayout Check() {
        TLayout layout;
        CheckFields(layout);
        CheckIndexes(layout);
        if (m_Def.LanguageID != 0 && !IsLocaleInstalled(MakeLcid(m_Def.LanguageID, m_Def.SortID)))
            Fail(ecLanguageDriver);
        if (m_Def.Password.size() > size_t(kMaxPasswordLength)) Fail(ecInvalidPassword);
        return layout;
    }

    const std::string& DataName() const { return m_File; }

private:
    [[noreturn]] void Fail(int code, const std::string& field = {}, const std::string& index = {}) {
        RaiseEngineError(code, m_File, field, index);
    }

    void CheckFields(TLayout& layout) {
        const auto& fields = m_Def.Fields;
        if (fields.empty() || fields.size() > size_t(kMaxFields)) Fail(ecFieldLimits);
        bool haveAutoInc = false;
        for (size_t i = 0; i < fields.size(); ++i) {
            const TFieldDef& f = fields[i];
            if (!ValidName(f.Name, kMaxFieldNameLength)) Fail(ecInvalidFieldName, f.Name);
            for (size_t j = 0; j < i; ++j)
                if (UpperAscii(fields[j].Name) == UpperAscii(f.Name)) Fail(ecInvalidFieldName, f.Name);
            if (f.Type < ftString || f.Type > ftVarBytes) Fail(ecInvalidFieldDefinition, f.Name);
            bool sized = f.Type == ftString || f.Type == ftBytes || f.Type == ftVarBytes;
            if (sized && (f.Size < 1 || f.Size > 250)) Fail(ecFieldLimits, f.Name);
            bool autoInc = f.Type == ftInteger && f.SubType == kSubTypeAutoInc;
            bool subTypeOk = f.SubType == 0 || autoInc ||
                             (f.Type == ftFloat && f.SubType == kSubTypeMoney) ||
                             (f.Type == ftBlob && f.SubType >= 22 && f.SubType <= 28);
            if (!subTypeOk || (autoInc && haveAutoInc)) Fail(ecInvalidFieldDefinition, f.Name);
            if (f.Decimals > (f.Type == ftBCD ? 4 : 0)) Fail(ecInvalidFieldDefinition, f.Name);
            for (const std::string* text : {&f.MinValue, &f.MaxValue, &f.DefaultValue})
                if (text->size() > size_t(fd::ValueCapacity)) Fail(ecInvalidValidityCheck, f.Name);
            haveAutoInc = haveAutoInc || autoInc;

            TFieldDescriptor d;
            PutI16(&d.Bytes[fd::FieldNo], int16_t(i + 1));
            PutShortString(&d.Bytes[fd::Name], kMaxFieldNameLength, f.Name);
            d.Bytes[fd::FieldType] = f.Type;
            d.Bytes[fd::SubType] = f.SubType;
            d.Bytes[fd::Size] = sized ? f.Size : 0;
            d.Bytes[fd::Decimals] = f.Decimals;
            d.Bytes[fd::PhysicalSize] = uint8_t(PhysicalSizeFor(f.Type, d.Size()));
            d.Bytes[fd::PhysicalDecimals] = f.Decimals;
            d.Bytes[fd::Required] = f.Required ? 1 : 0;
            PutShortString(&d.Bytes[fd::MinValue], fd::ValueCapacity, f.MinValue);
            PutShortString(&d.Bytes[fd::MaxValue], fd::ValueCapacity, f.MaxValue);
            PutShortString(&d.Bytes[fd::DefaultValue], fd::ValueCapacity, f.DefaultValue);
            PutU16(&d.Bytes[fd::Offset], uint16_t(autoInc ? 5 : layout.RecordSize));
            if (!autoInc) layout.RecordSize += d.PhysicalSize() + 1;
            if (layout.RecordSize > 0xFFFF) Fail(ecRecordSizeExceeded);
            if (f.Type == ftBlob) ++layout.BlobFields;
            layout.Descriptors.push_back(d);
        }
        if (layout.BlobFields > 64) Fail(ecBlobFieldLimits);
        if (layout.BlobFields > 0 && (m_Def.BlobBlockSize < 64 || m_Def.BlobBlockSize > 65535))
            Fail(ecBlobFieldLimits);
    }

    int FieldIndex(const std::string& name) const {
        for (size_t i = 0; i < m_Def.Fields.size(); ++i)
            if (UpperAscii(m_Def.Fields[i].Name) == UpperAscii(name)) return int(i);
        return -1;
    }

    void CheckIndexes(TLayout& layout) {
        layout.IndexHeader = TIndexFile::NewHeaderImage();
        uint8_t* h = layout.IndexHeader.data();
        bool havePrimary = false;
        int secondary = 0;
        std::vector<std::string> names;
        for (const TIndexDef& ix : m_Def.Indexes) {
            const std::string label = ix.Primary ? "Primary" : ix.Name;
            if (ix.Primary) {
                if (havePrimary) Fail(ecPrimaryExists);
                havePrimary = true;
            } else {
                if (ix.Name.empty()) Fail(ecIndexNameMissing);
                if (!ValidName(ix.Name, 30)) Fail(ecInvalidIndexName, {}, ix.Name);
                for (const auto& n : names)
                    if (UpperAscii(n) == UpperAscii(ix.Name)) Fail(ecIndexExists, {}, ix.Name);
                names.push_back(ix.Name);
                if (++secondary > kMaxSecondaryIndexes) Fail(ecIndexLimits, {}, ix.Name);
            }
            if (ix.Fields.empty() || ix.Fields.size() > size_t(kMaxIndexFields))
                Fail(ecIndexLimits, {}, label);
            if (uint8_t(ix.Compression) > 3) Fail(ecInvalidKeySize, {}, label);

            TIndexDescriptor d;
            if (!ix.Primary) d.SetName(ix.Name);
            bool unique = ix.Primary || ix.Unique;
            d.Bytes[id::Descending] = ix.Descending;
            d.Bytes[id::CaseInsensitive] = ix.CaseInsensitive;
            d.Bytes[id::Unique] = unique;
            d.Bytes[id::Compression] = uint8_t(ix.Compression);
            d.Bytes[id::FieldCount] = uint8_t(ix.Fields.size());
            std::vector<int> sizes;
            for (size_t i = 0; i < ix.Fields.size(); ++i) {
                int f = FieldIndex(ix.Fields[i]);
                if (f < 0) Fail(ecInvalidIndexField, ix.Fields[i], label);
                if (m_Def.Fields[size_t(f)].Type == ftBlob) Fail(ecInvalidIndexFieldType, {}, label);
                sizes.push_back(layout.Descriptors[size_t(f)].PhysicalSize());
                PutU16(&d.Bytes[id::FieldNumbers + 2 * i], uint16_t(f + 1));
                d.Bytes[id::FieldDescending + i] =
                    i < ix.FieldDescending.size() && ix.FieldDescending[i] ? 1 : 0;
            }
            int keySize = IndexKeySize(sizes, unique);
            if (keySize < 1 || keySize > kMaxKeySize) Fail(ecInvalidKeySize, {}, label);
            PutU16(&d.Bytes[id::KeySize], uint16_t(keySize));
            int slot = ix.Primary ? 0 : secondary;
            std::memcpy(h + ih::Descriptors + slot * kIndexDescriptorSize, d.Bytes.data(),
                        kIndexDescriptorSize);
        }
        h[ih::SecondaryCount] = uint8_t(secondary);
        h[ih::NoPrimaryIndex] = havePrimary ? 0 : 1;
    }

    std::string m_File;
    const TTableDef& m_Def;
};

void WriteNewFile(const std::string& name, const std::vector<uint8_t>& bytes,
                  std::vector<std::string>& created) {
    TFileHandler file;
    file.SetFileName(name);
    file.SetExclusive(true);
    file.CreateFile();
    created.push_back(file.ActualPath());
    file.WriteAt(0, bytes.data(), bytes.size());
    file.Close();
}

}  // namespace

int IndexKeySize(const std::vector<int>& physicalSizes, bool uniqueOrPrimary) {
    int size = uniqueOrPrimary ? 0 : 4;
    for (int s : physicalSizes) size += s + 1;
    return size;
}

void CreateTable(const std::string& fileName, const TTableDef& def) {
    TBuilder builder(fileName, def);
    TLayout layout = builder.Check();
    const bool encrypted = !def.Password.empty();

    std::vector<uint8_t> data(size_t(kDataHeaderSize) + layout.Descriptors.size() * kDescriptorSize);
    uint8_t* h = data.data();
    PutI32(h + dh::BlobBlockSize, layout.BlobFields > 0 ? def.BlobBlockSize : 0);
    h[dh::Version] = kFileVersion;
    PutI32(h + dh::NextRecordNo, 1);
    PutU16(h + dh::RecordSize, uint16_t(layout.RecordSize));
    PutU16(h + dh::FieldCount, uint16_t(layout.Descriptors.size()));
    PutI16(h + dh::BlobFieldCount, int16_t(layout.BlobFields));
    PutF64(h + dh::LastUpdated, NowAsDateTime());
    PutU16(h + dh::LanguageID, def.LanguageID);
    PutU16(h + dh::SortID, def.SortID);
    if (encrypted) {
        h[dh::Encrypted] = 1;
        PutShortString(h + dh::Password, kMaxPasswordLength, def.Password);
        Scramble(h + dh::Password + 1, def.Password.size(), kPasswordKey);
    }
    uint8_t* block = h + kDataHeaderSize;
    for (size_t i = 0; i < layout.Descriptors.size(); ++i)
        std::memcpy(block + i * kDescriptorSize, layout.Descriptors[i].Bytes.data(), kDescriptorSize);
    // Same 16-bit length rule as the reader.
    if (encrypted) Scramble(block, (data.size() - kDataHeaderSize) & 0xFFFF, kTableKey);

    std::vector<uint8_t> index(layout.IndexHeader.begin(), layout.IndexHeader.end());
    if (encrypted) Scramble(index.data(), index.size(), kTableKey);

    std::vector<std::string> created;
    try {
        const std::string& base = builder.DataName();
        WriteNewFile(base, data, created);
        WriteNewFile(ForceExtension(base, "IDX"), index, created);
        if (layout.BlobFields > 0) {
            auto image = TBlobFile::NewHeaderImage();
            std::vector<uint8_t> blob(image.begin(), image.end());
            if (encrypted) Scramble(blob.data(), blob.size(), kTableKey);
            WriteNewFile(ForceExtension(base, "BLB"), blob, created);
        }
    } catch (...) {
        for (const auto& path : created) std::remove(path.c_str());
        throw;
    }
}

}  // namespace veltra
