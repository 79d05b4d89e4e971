#include "filter_eval.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "byte_order.h"
#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "filter_parser.h"
#include "index_file.h"
#include "platform/locale_services.h"
#include "table_format.h"

namespace veltra {

struct TExpressionFilter::TValue {
    uint8_t Type = 0;
    const uint8_t* Data = nullptr;
    int Size = 0;
    bool Null = false;
};

namespace {

// The value of a computed field: null, all zero.
constexpr uint8_t kZeros[256] = {};

// Bytes of a value of the type; 0 for text and types without a fixed size.
int FixedSize(uint8_t type) {
    switch (type) {
        case ftBoolean:
        case ftSmallInt:
        case ftWord:
            return 2;
        case ftInteger:
        case ftDate:
        case ftTime:
            return 4;
        case ftFloat:
        case ftDateTime:
        case ftBCD:
            return 8;
        default:
            return 0;
    }
}

bool IsConstantType(uint8_t type) { return type == ftString || FixedSize(type) != 0; }
bool IsNumeric(uint8_t t) {
    return t == ftSmallInt || t == ftInteger || t == ftWord || t == ftFloat || t == ftBCD;
}

template <class T>
int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

// Doubles compare in the order of their index keys, which is numeric order
// (with -0 equal to 0) and places NaNs consistently.
uint64_t DoubleKey(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return d >= 0 ? bits | (uint64_t(1) << 63) : ~bits;
}
int CompareDoubles(double a, double b) { return Order(DoubleKey(a), DoubleKey(b)); }

int64_t IntegralValue(uint8_t type, const uint8_t* p) {
    switch (type) {
        case ftSmallInt:
            return GetI16(p);
        case ftWord:
            return GetU16(p);
        default:
            return GetI32(p);
    }
}

size_t TextLength(const uint8_t* p, int size) {
    return strnlen(reinterpret_cast<const char*>(p), size_t(std::max(size, 0)));
}

uint8_t UpperAscii(uint8_t c) { return c >= 'a' && c <= 'z' ? uint8_t(c - 32) : c; }

// An inclusive or exclusive range of keys over the first `Length` bytes, in
// index order.
struct TKeyRange {
    std::vector<uint8_t> Low, High;
    bool LowInclusive = true, HighInclusive = true;
    int Length = 0;
};

class TRangeWalker {
  public:
    TRangeWalker(TIndexFile& index, int slot)
        : m_Index(index), m_Slot(slot), m_Layout(index.Layout(slot)) {}

    bool Empty(const TKeyRange& r) const {
        int c = m_Layout.Compare(r.Low.data(), r.High.data(), r.Length);
        return c > 0 || (c == 0 && !(r.LowInclusive && r.HighInclusive));
    }
    int64_t Count(const TKeyRange& r) {
        if (Empty(r)) return 0;
        int64_t n = m_Index.CountKeysInRange(m_Slot, r.Low.data(), r.High.data(), r.Length);
        if (!r.LowInclusive)
            n -= m_Index.CountKeysInRange(m_Slot, r.Low.data(), r.Low.data(), r.Length);
        if (!r.HighInclusive)
            n -= m_Index.CountKeysInRange(m_Slot, r.High.data(), r.High.data(), r.Length);
        return std::max<int64_t>(0, n);
    }
    // Sets the bits of the records in the range. An excluded end is marked
    // with the rest and its records cleared again: the ranges marked into one
    // bitmap never share keys, so those records belong to no other range.
    void Mark(const TKeyRange& r, TRecordBitmap& out, int32_t records) {
        if (Empty(r)) return;
        m_Index.MarkKeysInRange(m_Slot, r.Low.data(), r.High.data(), r.Length, out);
        if (r.LowInclusive && r.HighInclusive) return;
        TRecordBitmap excluded(records);
        if (!r.LowInclusive)
            m_Index.MarkKeysInRange(m_Slot, r.Low.data(), r.Low.data(), r.Length, excluded);
        if (!r.HighInclusive)
            m_Index.MarkKeysInRange(m_Slot, r.High.data(), r.High.data(), r.Length, excluded);
        for (int32_t n = excluded.NextSet(1); n != 0; n = excluded.NextSet(n + 1)) out.Clear(n);
    }

  private:
    TIndexFile& m_Index;
    int m_Slot;
    const TKeyLayout& m_Layout;
};

}  // namespace

// ------------------------------------------------------------ building the tree

TExpressionFilter::TExpressionFilter(TDataFile& table, const uint8_t* data, size_t size) {
    auto bad = [&]() { RaiseEngineError(ecInvalidFilter, table.FileName()); };
    if (data == nullptr || size < size_t(cf::HeaderSize)) bad();
    const size_t total = GetU16(data + cf::TotalSize);
    const size_t literals = GetU16(data + cf::LiteralArea);
    if (GetU16(data + cf::Version) != 0 || total < size_t(cf::HeaderSize) || total > size ||
        GetU16(data + cf::NodeCount) != cf::NodeCountValue ||
        GetU16(data + cf::NodeArea) != cf::HeaderSize || literals <= size_t(cf::HeaderSize) ||
        literals > total)
        bad();
    m_RecordSize = table.RecordSize();
    const size_t nodeLength = literals - cf::HeaderSize;
    std::vector<bool> used(nodeLength, false);
    int root = Load(table, data + cf::HeaderSize, nodeLength, data + literals, total - literals, 0,
                    1, used);
    if (!IsCondition(root)) bad();
    if (table.LanguageID() != 0) {
        m_Collator = TLocaleCollator::Open(MakeLcid(table.LanguageID(), table.SortID()));
        if (!m_Collator) bad();
    }
    ComputeGrade(table, root);
}

// Reads the node at `offset` and, depth first, its operands. Every operand
// lies after its parent and every node is used once, so the tree is finite
// and no node is shared.
int TExpressionFilter::Load(TDataFile& table, const uint8_t* nodes, size_t nodeLength,
                            const uint8_t* literals, size_t literalLength, size_t offset, int depth,
                            std::vector<bool>& used) {
    auto bad = [&]() { RaiseEngineError(ecInvalidFilter, table.FileName()); };
    if (depth > cf::MaxDepth || offset + cf::NodeHeader > nodeLength || used[offset]) bad();
    used[offset] = true;
    const uint8_t* p = nodes + offset;
    const uint32_t nodeClass = GetU32(p);
    const uint32_t op = GetU32(p + 4);
    auto need = [&](int size) {
        if (offset + size_t(size) > nodeLength) bad();
    };
    auto operand = [&](int k) { return size_t(GetU16(p + cf::NodeHeader + 2 * k)); };
    auto child = [&](size_t at) {
        if (at <= offset) bad();
        return Load(table, nodes, nodeLength, literals, literalLength, at, depth + 1, used);
    };

    const int index = int(m_Nodes.size());
    m_Nodes.emplace_back();
    m_Nodes[size_t(index)].Class = uint8_t(nodeClass);
    m_Nodes[size_t(index)].Op = uint8_t(op);
    switch (nodeClass) {
        case fncUnary: {
            need(cf::UnarySize);
            if (op != fopIsNull && op != fopIsNotNull && op != fopNot) bad();
            int c = child(operand(0));
            if (op == fopNot ? !IsCondition(c) : m_Nodes[size_t(c)].Class != fncField) bad();
            m_Nodes[size_t(index)].Left = c;
            break;
        }
        case fncBinary: {
            need(cf::BinarySize);
            const bool logical = op == fopAnd || op == fopOr;
            if (!logical && (op < fopEq || op > fopLe)) bad();
            int l = child(operand(0));
            int r = child(operand(1));
            if (logical) {
                if (!IsCondition(l) || !IsCondition(r)) bad();
            } else if (m_Nodes[size_t(l)].Class != fncField ||
                       (m_Nodes[size_t(r)].Class != fncField &&
                        m_Nodes[size_t(r)].Class != fncConstant)) {
                bad();
            }
            m_Nodes[size_t(index)].Left = l;
            m_Nodes[size_t(index)].Right = r;
            break;
        }
        case fncCompare: {
            need(cf::CompareSize);
            const size_t caseInsensitive = operand(0), partial = operand(1);
            if ((op != fopEq && op != fopNe) || caseInsensitive > 1 ||
                partial > cf::MaxTextConstant)
                bad();
            int l = child(operand(2));
            int r = child(operand(3));
            const TNode& f = m_Nodes[size_t(l)];
            const TNode& c = m_Nodes[size_t(r)];
            if (f.Class != fncField || f.Type != ftString || c.Class != fncConstant ||
                c.Type != ftString)
                bad();
            TNode& n = m_Nodes[size_t(index)];
            n.CaseInsensitive = caseInsensitive == 1;
            n.PartialLength = int(partial);
            n.Left = l;
            n.Right = r;
            break;
        }
        case fncField: {
            need(cf::FieldSize);
            const size_t at = operand(1);
            if (op != fopField || at >= literalLength) bad();
            const void* end = std::memchr(literals + at, 0, literalLength - at);
            if (!end) bad();
            std::string name(reinterpret_cast<const char*>(literals + at),
                             size_t(static_cast<const uint8_t*>(end) - (literals + at)));
            const int fieldNo = table.FieldNumber(name);
            if (fieldNo == 0) bad();
            TFieldDescriptor d = table.FieldDescriptor(fieldNo);
            TNode& n = m_Nodes[size_t(index)];
            n.FieldNo = fieldNo;
            n.Type = d.FieldType();
            n.Size = d.PhysicalSize();
            n.Decimals = d.Decimals();
            n.Offset = d.Offset();
            n.AutoIncrement = d.IsAutoIncrement();
            n.Computed = d.IsComputed();
            if (n.AutoIncrement) {
                n.Type = ftInteger;
                n.Size = 4;
            } else if (n.Computed) {
                n.Size = std::min(n.Size, int(sizeof kZeros));
            } else if (int(n.Offset) + 1 + n.Size > m_RecordSize) {
                bad();
            }
            if (n.Type == ftString ? n.Size < 1
                                   : (FixedSize(n.Type) != 0 && n.Size != FixedSize(n.Type)))
                bad();
            break;
        }
        case fncConstant: {
            need(cf::ConstantSize);
            const size_t type = operand(0), valueSize = operand(1), at = operand(2);
            if (op != fopConstant || type > 255 || !IsConstantType(uint8_t(type)) ||
                at > literalLength || valueSize > literalLength - at)
                bad();
            const uint8_t* v = literals + at;
            if (type == ftString) {
                if (valueSize < 1 || valueSize > cf::MaxTextConstant + 1 || v[valueSize - 1] != 0)
                    bad();
            } else if (valueSize != size_t(FixedSize(uint8_t(type)))) {
                bad();
            }
            TNode& n = m_Nodes[size_t(index)];
            n.Type = uint8_t(type);
            n.ValueSize = int(valueSize);
            n.Value.assign(std::max<size_t>(valueSize, 8), 0);
            std::memcpy(n.Value.data(), v, valueSize);
            n.Null = type == ftString && valueSize == 1;
            break;
        }
        default:
            bad();
    }
    return index;
}

bool TExpressionFilter::IsCondition(int i) const {
    uint8_t c = m_Nodes[size_t(i)].Class;
    return c == fncUnary || c == fncBinary || c == fncCompare;
}

// caseMode: 0 any index; 1 a case-sensitive one for a text field; 2 a
// case-insensitive one.
int TExpressionFilter::QualifyingIndex(TDataFile& table, const TNode& field, int caseMode) const {
    TIndexFile& index = table.IndexFile();
    if (!index.HasPrimaryIndex() || field.Computed) return -1;
    const int last = std::min(index.IndexCount(), kMaxSecondaryIndexes);
    for (int slot = 0; slot <= last; ++slot) {
        const TKeyLayout& l = index.Layout(slot);
        if (l.DeletedIndex || l.Fields.empty() || l.Fields[0].FieldNo != field.FieldNo) continue;
        if (l.KeySize < 1 + l.Fields[0].Size) continue;
        if (caseMode == 1 && field.Type == ftString && l.CaseInsensitive) continue;
        if (caseMode == 2 && !l.CaseInsensitive) continue;
        return slot;
    }
    return -1;
}

int TExpressionFilter::ComputeGrade(TDataFile& table, int i) {
    TNode& n = m_Nodes[size_t(i)];
    int grade = 2;
    switch (n.Class) {
        case fncUnary:
            if (n.Op == fopNot) {
                grade = ComputeGrade(table, n.Left);
            } else {
                n.IndexSlot = QualifyingIndex(table, m_Nodes[size_t(n.Left)], 0);
                grade = n.IndexSlot >= 0 ? 0 : 2;
            }
            break;
        case fncBinary:
            if (n.Op == fopAnd || n.Op == fopOr) {
                int left = ComputeGrade(table, n.Left);
                int right = ComputeGrade(table, n.Right);
                if (left == 0 && right == 0) {
                    grade = 0;
                } else if (n.Op == fopAnd && std::min(left, right) <= 1) {
                    grade = 1;
                    if (right < left) std::swap(n.Left, n.Right);
                }
            } else if (m_Nodes[size_t(n.Right)].Class == fncConstant) {
                // The constant must be in the field's own stored form, so that
                // its key orders like the field's keys.
                const TNode& f = m_Nodes[size_t(n.Left)];
                const TNode& c = m_Nodes[size_t(n.Right)];
                bool sameForm = c.Type == f.Type;
                if (sameForm && f.Type == ftString)
                    sameForm = int(TextLength(c.Value.data(), c.ValueSize)) <= f.Size - 1;
                if (sameForm && f.Type == ftBCD)
                    sameForm = std::llabs(GetI64(c.Value.data()) % 10) == f.Decimals;
                if (sameForm) n.IndexSlot = QualifyingIndex(table, f, 1);
                grade = n.IndexSlot >= 0 ? 0 : 2;
            }
            break;
        case fncCompare: {
            const TNode& f = m_Nodes[size_t(n.Left)];
            const TNode& c = m_Nodes[size_t(n.Right)];
            int length = n.PartialLength > 0 ? n.PartialLength
                                             : int(TextLength(c.Value.data(), c.ValueSize));
            // A locale orders whole texts: the texts sharing a prefix need not
            // be adjacent in its order (a lower-case letter may sort before
            // its capital, and a longer text between them), so only byte
            // order lets an index answer a prefix.
            bool prefixInOrder = n.PartialLength == 0 || !m_Collator;
            if (length <= f.Size - 1 && prefixInOrder)
                n.IndexSlot = QualifyingIndex(table, f, n.CaseInsensitive ? 2 : 1);
            grade = n.IndexSlot >= 0 ? 0 : 2;
            break;
        }
        default:
            break;
    }
    n.Grade = uint8_t(grade);
    return grade;
}

std::unique_ptr<TFilterEvaluator> TExpressionFilter::Clone() const {
    return std::make_unique<TExpressionFilter>(*this);
}

// ------------------------------------------------------------ evaluation

bool TExpressionFilter::Matches(const uint8_t* record) const { return Evaluate(0, record); }

TExpressionFilter::TValue TExpressionFilter::ValueOf(const TNode& n, const uint8_t* record) const {
    if (n.Class == fncConstant) return {n.Type, n.Value.data(), n.ValueSize, n.Null};
    if (n.AutoIncrement) return {ftInteger, record + 5, 4, false};
    if (n.Computed) return {n.Type, kZeros, n.Size, true};
    return {n.Type, record + n.Offset + 1, n.Size, record[n.Offset] == 0};
}

bool TExpressionFilter::Evaluate(int i, const uint8_t* record) const {
    const TNode& n = m_Nodes[size_t(i)];
    switch (n.Class) {
        case fncUnary: {
            if (n.Op == fopNot) return !Evaluate(n.Left, record);
            bool isNull = ValueOf(m_Nodes[size_t(n.Left)], record).Null;
            return n.Op == fopIsNull ? isNull : !isNull;
        }
        case fncBinary: {
            if (n.Op == fopAnd) return Evaluate(n.Right, record) && Evaluate(n.Left, record);
            if (n.Op == fopOr) return Evaluate(n.Right, record) || Evaluate(n.Left, record);
            TValue a = ValueOf(m_Nodes[size_t(n.Left)], record);
            TValue b = ValueOf(m_Nodes[size_t(n.Right)], record);
            int c = 0;
            if (n.Op == fopEq || n.Op == fopNe) {
                bool equal =
                    (a.Null || b.Null) ? a.Null && b.Null : CompareValues(a, b, c) && c == 0;
                return n.Op == fopEq ? equal : !equal;
            }
            if (!CompareValues(a, b, c)) return false;
            switch (n.Op) {
                case fopGt:
                    return c > 0;
                case fopLt:
                    return c < 0;
                case fopGe:
                    return c >= 0;
                default:
                    return c <= 0;
            }
        }
        case fncCompare: {
            TValue a = ValueOf(m_Nodes[size_t(n.Left)], record);
            TValue b = ValueOf(m_Nodes[size_t(n.Right)], record);
            bool equal = CompareText(a, b, n.CaseInsensitive, n.PartialLength) == 0;
            return n.Op == fopEq ? equal : !equal;
        }
        default:
            return false;
    }
}

// With a locale both texts are mapped as index keys map them (half-width
// forms, and upper case when case is ignored) and compared by the locale;
// without one, as unsigned bytes with a..z upper-cased when case is ignored.
// A partial length compares the first that many characters.
int TExpressionFilter::CompareText(const TValue& a, const TValue& b, bool caseInsensitive,
                                   int partial) const {
    size_t la = TextLength(a.Data, a.Size), lb = TextLength(b.Data, b.Size);
    if (partial > 0) {
        la = std::min(la, size_t(partial));
        lb = std::min(lb, size_t(partial));
    }
    if (m_Collator) {
        std::string x =
            m_Collator->Map({reinterpret_cast<const char*>(a.Data), la}, caseInsensitive);
        std::string y =
            m_Collator->Map({reinterpret_cast<const char*>(b.Data), lb}, caseInsensitive);
        return m_Collator->Compare(reinterpret_cast<const uint8_t*>(x.data()), x.size(),
                                   reinterpret_cast<const uint8_t*>(y.data()), y.size());
    }
    for (size_t k = 0; k < std::min(la, lb); ++k) {
        uint8_t x = caseInsensitive ? UpperAscii(a.Data[k]) : a.Data[k];
        uint8_t y = caseInsensitive ? UpperAscii(b.Data[k]) : b.Data[k];
        if (x != y) return x < y ? -1 : 1;
    }
    return Order(la, lb);
}

// False when the two types do not compare.
bool TExpressionFilter::CompareValues(const TValue& a, const TValue& b, int& result) const {
    const uint8_t ta = a.Type, tb = b.Type;
    if (ta == ftString && tb == ftString) {
        result = CompareText(a, b, false, 0);
        return true;
    }
    if (IsNumeric(ta) && IsNumeric(tb)) {
        const bool bcd = ta == ftBCD || tb == ftBCD;
        if (ta != ftFloat && tb != ftFloat) {
            // Exact: BCD amounts in ten-thousandths, integers scaled to match.
            auto exact = [&](const TValue& v) {
                if (v.Type == ftBCD) return UnpackBcd(GetI64(v.Data));
                int64_t n = IntegralValue(v.Type, v.Data);
                return bcd ? n * 10000 : n;
            };
            result = Order(exact(a), exact(b));
        } else {
            auto approximate = [&](const TValue& v) {
                if (v.Type == ftBCD) return double(UnpackBcd(GetI64(v.Data)));
                double d =
                    v.Type == ftFloat ? GetF64(v.Data) : double(IntegralValue(v.Type, v.Data));
                return bcd ? d * 10000.0 : d;
            };
            result = CompareDoubles(approximate(a), approximate(b));
        }
        return true;
    }
    auto dateTimeMs = [](const TValue& v) {
        return v.Type == ftDate ? double(GetI32(v.Data)) * 86400000.0 : GetF64(v.Data);
    };
    if ((ta == ftDate || ta == ftDateTime) && (tb == ftDate || tb == ftDateTime)) {
        result = ta == ftDate && tb == ftDate ? Order(GetI32(a.Data), GetI32(b.Data))
                                              : CompareDoubles(dateTimeMs(a), dateTimeMs(b));
        return true;
    }
    if (ta == ftTime && tb == ftTime) {
        result = Order(GetI32(a.Data), GetI32(b.Data));
        return true;
    }
    if (ta == ftBoolean && tb == ftBoolean) {
        result = Order(GetU16(a.Data) != 0, GetU16(b.Data) != 0);
        return true;
    }
    return false;
}

// ------------------------------------------------------------ bitmaps

bool TExpressionFilter::BuildBitmap(TDataFile& table, const TRecordBitmap& live,
                                    TRecordBitmap& bitmap) {
    if (table.RecordSize() != m_RecordSize) return false;
    const int32_t records = table.NextRecordNo() - 1;
    TRecordBitmap candidates = live;
    candidates.Resize(records);
    try {
        TRecordBitmap result = Answer(0, candidates, table);
        result.Resize(records);
        bitmap = std::move(result);
        return true;
    } catch (const TTableChangedWhileReading&) {
        // The table has been re-read meanwhile; the caller's own pass over the
        // records answers from the fresh state.
        bitmap = TRecordBitmap(table.NextRecordNo() - 1);
        return false;
    }
}

// The records of `in` that pass node i.
TRecordBitmap TExpressionFilter::Answer(int i, const TRecordBitmap& in, TDataFile& table) const {
    const TNode& n = m_Nodes[size_t(i)];
    if (n.Grade == 2) return ReadRecords(i, in, table);
    if (n.Class == fncBinary && n.Op == fopAnd) {
        TRecordBitmap first = Answer(n.Left, in, table);
        return Answer(n.Right, first, table);
    }
    if (n.Class == fncBinary && n.Op == fopOr) {
        TRecordBitmap result = Answer(n.Left, in, table);
        TRecordBitmap right = Answer(n.Right, in, table);
        for (int32_t r = right.NextSet(1); r != 0; r = right.NextSet(r + 1)) result.Set(r);
        return result;
    }
    if (n.Class == fncUnary && n.Op == fopNot) {
        TRecordBitmap passed = Answer(n.Left, in, table);
        passed.Invert();
        TRecordBitmap result = in;
        result.And(passed);
        return result;
    }
    TRecordBitmap fromIndex;
    if (!IndexAnswer(i, table, fromIndex)) return ReadRecords(i, in, table);
    TRecordBitmap result = in;
    result.And(fromIndex);
    return result;
}

TRecordBitmap TExpressionFilter::ReadRecords(int i, const TRecordBitmap& in,
                                             TDataFile& table) const {
    TRecordBitmap out(in.Records());
    const int32_t last = table.NextRecordNo() - 1;
    for (int32_t r = in.NextSet(1); r != 0 && r <= last; r = in.NextSet(r + 1)) {
        TFetchResult f = table.FetchRecord(r, TReadAhead::Physical);
        if (f.TableChanged) throw TTableChangedWhileReading{};
        if (!f.Record) continue;
        bool passed = !f.Record->IsDeleted() && int(f.Record->Buffer.size()) == m_RecordSize &&
                      Evaluate(i, f.Record->Buffer.data());
        f.Record->Unpin();
        if (passed) out.Set(r);
    }
    return out;
}

// Answers a grade-0 comparison or null test from its index into `out`
// (records of the whole table); false when the index no longer fits.
//
// Ranges are worked out in value order and turned into index order: the
// first field's keys run in value order unless the index or the field is
// descending. Value-order bounds other than the constant's own key:
// "lowest non-null" (indicator 1, then zero bytes) and "above every value"
// (indicator 0xFF), both passed through the byte inversion a descending field
// gets in an ascending index without locale.
bool TExpressionFilter::IndexAnswer(int i, TDataFile& table, TRecordBitmap& out) const {
    const TNode& n = m_Nodes[size_t(i)];
    TIndexFile& index = table.IndexFile();
    if (n.IndexSlot < 0 || n.IndexSlot >= kIndexSlotCount) return false;
    const TKeyLayout& l = index.Layout(n.IndexSlot);
    const TNode& field = m_Nodes[size_t(n.Left)];
    if (l.Fields.empty() || l.Fields[0].FieldNo != field.FieldNo) return false;
    const TKeyField& f0 = l.Fields[0];
    const int s = f0.Size, keySize = l.KeySize;
    if (keySize < 1 + s || (!f0.AutoIncrement && int(f0.Offset) + 1 + s > m_RecordSize))
        return false;

    const bool invertBytes = !l.Collator && f0.Descending && !l.Descending;
    const bool reversed = l.Descending || f0.Descending;
    // Whether the key comparison runs against byte (or locale) order on the
    // first field: the extremes of the index order follow from it.
    const bool negated = l.Collator ? reversed : l.Descending;
    auto valueBound = [&](uint8_t indicator, uint8_t fill) {
        std::vector<uint8_t> k(size_t(keySize), fill);
        k[0] = indicator;
        if (invertBytes) {
            int m = f0.Type == ftString ? s : s + 1;
            for (int b = 0; b < m; ++b) k[size_t(b)] = uint8_t(~k[size_t(b)]);
        }
        return k;
    };
    auto constantKey = [&](const TNode& c) {
        std::vector<uint8_t> record(size_t(m_RecordSize), 0), key(size_t(keySize), 0);
        if (f0.AutoIncrement) {
            std::memcpy(&record[5], c.Value.data(), 4);
        } else {
            record[f0.Offset] = 1;
            size_t length = c.Type == ftString
                                ? std::min(TextLength(c.Value.data(), c.ValueSize), size_t(s - 1))
                                : std::min(size_t(c.ValueSize), size_t(s));
            std::memcpy(&record[size_t(f0.Offset) + 1], c.Value.data(), length);
        }
        l.Build(record.data(), key.data());
        return key;
    };
    auto indicatorRange = [&](bool nulls) {
        std::vector<uint8_t> k = valueBound(nulls ? 0 : 1, 0);
        return TKeyRange{k, k, true, true, 1};
    };

    TKeyRange inside;
    bool complement = false;
    if (n.Class == fncUnary) {
        inside = indicatorRange(n.Op == fopIsNull);
    } else {
        const TNode& c = m_Nodes[size_t(n.Right)];
        uint8_t op = n.Op;
        if (op == fopNe) {
            complement = true;
            op = fopEq;
        }
        if (n.Class == fncCompare) {
            std::vector<uint8_t> k = constantKey(c);
            inside = {k, k, true, true, 1 + (n.PartialLength > 0 ? n.PartialLength : s)};
        } else if (op == fopEq && c.Null) {
            inside = indicatorRange(true);
        } else {
            std::vector<uint8_t> k = constantKey(c);
            std::vector<uint8_t> lowestValue = valueBound(1, 0x00),
                                 aboveAll = valueBound(0xFF, 0xFF);
            switch (op) {
                case fopEq:
                    inside = {k, k, true, true, 1 + s};
                    break;
                case fopGe:
                    inside = {k, aboveAll, true, true, 1 + s};
                    break;
                case fopGt:
                    inside = {k, aboveAll, false, true, 1 + s};
                    break;
                case fopLe:
                    inside = {lowestValue, k, true, true, 1 + s};
                    break;
                default:
                    inside = {lowestValue, k, true, false, 1 + s};
                    break;
            }
            if (reversed) {
                std::swap(inside.Low, inside.High);
                std::swap(inside.LowInclusive, inside.HighInclusive);
            }
        }
    }

    // Walk whichever side is smaller: the records inside, or those outside
    // followed by inversion.
    const int32_t records = table.NextRecordNo() - 1;
    TRangeWalker walker(index, n.IndexSlot);
    out = TRecordBitmap(records);
    const int64_t total = index.EntryCount(n.IndexSlot);
    if (walker.Count(inside) * 2 > total) {
        std::vector<uint8_t> first(size_t(keySize), negated ? 0xFF : 0x00),
            last(size_t(keySize), negated ? 0x00 : 0xFF);
        walker.Mark({first, inside.Low, true, !inside.LowInclusive, inside.Length}, out, records);
        walker.Mark({inside.High, last, !inside.HighInclusive, true, inside.Length}, out, records);
        out.Resize(records);
        out.Invert();
    } else {
        walker.Mark(inside, out, records);
        out.Resize(records);
    }
    if (complement) out.Invert();
    return true;
}

// ------------------------------------------------------------ convenience

std::unique_ptr<TExpressionFilter> CreateExpressionFilter(TDataFile& table, const std::string& text,
                                                          TFilterOptionSet options) {
    TTableFieldSource fields(table);
    TExprParser parser(fields, options, text);
    return std::make_unique<TExpressionFilter>(table, parser.FilterData().data(),
                                               parser.DataSize());
}

}  // namespace veltra
