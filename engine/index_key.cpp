#include "index_key.h"

#include <cstring>

#include "byte_order.h"
#include "data_file.h"
#include "index_file.h"
#include "platform/locale_services.h"

namespace veltra {

void PutKeyRecordId(uint8_t* p, int32_t recordId) { PutBE32(p, uint32_t(recordId) ^ 0x80000000u); }
int32_t GetKeyRecordId(const uint8_t* p) { return int32_t(GetBE32(p) ^ 0x80000000u); }

TKeyLayout::TKeyLayout(const TIndexDescriptor& d, int slot, const TDataFile& table)
    : KeySize(d.KeySize()),
      Descending(d.Descending()),
      CaseInsensitive(d.CaseInsensitive()),
      Unique(slot == 0 || d.Unique()),
      HasRecordIdSuffix(slot != 0 && slot != kDeletedIndexSlot && !d.Unique()),
      Compression(d.Compression()),
      DeletedIndex(slot == kDeletedIndexSlot),
      Collator(slot == kDeletedIndexSlot ? nullptr : table.Collator()) {
    if (DeletedIndex) return;
    for (int i = 0; i < d.FieldCount(); ++i) {
        TFieldDescriptor f = table.FieldDescriptor(d.FieldNumber(i));
        TKeyField k;
        k.FieldNo = d.FieldNumber(i);
        k.Type = f.FieldType();
        k.Size = f.PhysicalSize();
        k.Offset = f.Offset();
        k.AutoIncrement = f.IsAutoIncrement();
        k.Descending = d.FieldDescending(i);
        Fields.push_back(k);
    }
}

void TKeyLayout::Build(const uint8_t* record, uint8_t* key) const {
    std::memset(key, 0, size_t(KeySize));
    if (DeletedIndex) {
        key[0] = record[0];
        PutKeyRecordId(key + 1, GetI32(record + 5));
        return;
    }
    int pos = 0;
    for (const TKeyField& f : Fields) {
        uint8_t* out = key + pos;
        const uint8_t* in = record + f.Offset;
        bool hasValue = f.AutoIncrement || in[0] != 0;
        const uint8_t* value = f.AutoIncrement ? record + 5 : in + 1;
        out[0] = hasValue ? 1 : 0;
        uint8_t* v = out + 1;
        if (hasValue) {
            switch (f.Type) {
                case ftString: {
                    size_t len = strnlen(reinterpret_cast<const char*>(value), size_t(f.Size));
                    std::string_view text(reinterpret_cast<const char*>(value), len);
                    if (Collator) {
                        std::string mapped = Collator->Map(text, CaseInsensitive);
                        std::memcpy(v, mapped.data(), std::min(mapped.size(), len));
                    } else {
                        std::memcpy(v, text.data(), len);
                        if (CaseInsensitive)
                            for (size_t i = 0; i < len; ++i)
                                if (v[i] >= 'a' && v[i] <= 'z') v[i] = uint8_t(v[i] - 32);
                    }
                    break;
                }
                case ftDate: case ftInteger: case ftTime:
                    PutBE32(v, GetU32(value) ^ 0x80000000u);
                    break;
                case ftSmallInt:
                    PutBE16(v, uint16_t(GetU16(value) ^ 0x8000u));
                    break;
                case ftBoolean: case ftWord:
                    PutBE16(v, GetU16(value));
                    break;
                case ftFloat: case ftDateTime: {
                    double d = GetF64(value);
                    uint64_t bits = GetU64(value);
                    // -0.0 >= 0 holds, and its only set bit is the one set here.
                    bits = d >= 0 ? bits | (uint64_t(1) << 63) : ~bits;
                    PutBE64(v, bits);
                    break;
                }
                case ftBCD:
                    PutBE64(v, GetU64(value) ^ (uint64_t(1) << 63));
                    break;
                default:
                    std::memcpy(v, value, size_t(f.Size));
            }
        }
        if (!Collator && f.Descending && !Descending) {
            int n = f.Type == ftString ? f.Size : f.Size + 1;
            for (int i = 0; i < n; ++i) out[i] = uint8_t(~out[i]);
        }
        pos += 1 + f.Size;
    }
    if (HasRecordIdSuffix) PutKeyRecordId(key + pos, GetI32(record + 5));
}

int TKeyLayout::Compare(const uint8_t* a, const uint8_t* b, int length) const {
    if (length > KeySize) length = KeySize;
    auto sign = [](int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); };
    if (!Collator) {
        int c = sign(std::memcmp(a, b, size_t(length)));
        return Descending ? -c : c;
    }
    int pos = 0;
    for (const TKeyField& f : Fields) {
        if (pos >= length) break;
        int c;
        if (f.Type == ftString) {
            c = int(a[pos]) - int(b[pos]);
            if (c == 0) {
                int n = std::min(f.Size, length - pos - 1);
                c = n > 0 ? Collator->Compare(a + pos + 1, size_t(n), b + pos + 1, size_t(n)) : 0;
            }
        } else {
            c = std::memcmp(a + pos, b + pos, size_t(std::min(f.Size + 1, length - pos)));
        }
        c = sign(c);
        if (c != 0) return (Descending || f.Descending) ? -c : c;
        pos += 1 + f.Size;
    }
    if (pos < length) {
        int c = sign(std::memcmp(a + pos, b + pos, size_t(length - pos)));
        return Descending ? -c : c;
    }
    return 0;
}

}  // namespace veltra
