#include "filter_compiler.h"

#include <cstring>
#include <limits>

#include "byte_order.h"
#include "codec.h"
#include "data_file.h"
#include "errors.h"
#include "platform/db_error.h"
#include "platform/format_settings.h"
#include "value_text.h"

namespace veltra {

// ------------------------------------------------------------ field source

std::optional<TFilterField> TTableFieldSource::FindField(const std::string& name) const {
    int n = m_Table.FieldNumber(name);
    if (n == 0) return std::nullopt;
    TFieldDescriptor d = m_Table.FieldDescriptor(n);
    TFilterField f;
    f.Name = d.Name();
    f.FieldNo = n;
    f.Type = d.FieldType();
    f.SubType = d.SubType();
    f.Size = d.Size();
    f.Decimals = d.Decimals();
    f.Kind = d.IsComputed() ? TFilterFieldKind::InternalCalculated : TFilterFieldKind::Data;
    return f;
}

std::string TTableFieldSource::TableName() const { return m_Table.FileName(); }

// ------------------------------------------------------------ writer

// Collects the node and literal areas; offsets are checked against the
// 16-bit fields of the compiled form as they are handed out.
class TFilterExpr::TWriter {
  public:
    explicit TWriter(const TFilterExpr& owner) : m_Owner(owner) {}

    // Appends a node record with `operands` zeroed operand words; returns its offset.
    size_t AddNode(uint8_t nodeClass, uint8_t op, int operands) {
        size_t at = m_Nodes.size();
        m_Nodes.resize(at + cf::NodeHeader + 2 * size_t(operands), 0);
        PutU32(&m_Nodes[at], nodeClass);
        PutU32(&m_Nodes[at + 4], op);
        CheckSize();
        return at;
    }
    void SetOperand(size_t node, int index, size_t value) {
        if (value > 0xFFFF) m_Owner.TooComplex();
        PutU16(&m_Nodes[node + cf::NodeHeader + 2 * size_t(index)], uint16_t(value));
    }
    size_t AddLiteral(const uint8_t* bytes, size_t length) {
        size_t at = m_Literals.size();
        m_Literals.insert(m_Literals.end(), bytes, bytes + length);
        CheckSize();
        return at;
    }
    size_t AddField(const TFilterField& field) {
        size_t node = AddNode(fncField, fopField, 2);
        SetOperand(node, 0, uint16_t(field.FieldNo));
        const std::string& name = field.Name;
        SetOperand(node, 1,
                   AddLiteral(reinterpret_cast<const uint8_t*>(name.c_str()), name.size() + 1));
        return node;
    }
    size_t AddConstant(uint8_t type, const std::vector<uint8_t>& value) {
        size_t node = AddNode(fncConstant, fopConstant, 3);
        SetOperand(node, 0, type);
        SetOperand(node, 1, value.size());
        SetOperand(node, 2, AddLiteral(value.data(), value.size()));
        return node;
    }

    std::vector<uint8_t> Finish() const {
        std::vector<uint8_t> out(cf::HeaderSize, 0);
        size_t total = cf::HeaderSize + m_Nodes.size() + m_Literals.size();
        PutU16(&out[cf::Version], 0);
        PutU16(&out[cf::TotalSize], uint16_t(total));
        PutU16(&out[cf::NodeCount], cf::NodeCountValue);
        PutU16(&out[cf::NodeArea], cf::HeaderSize);
        PutU16(&out[cf::LiteralArea], uint16_t(cf::HeaderSize + m_Nodes.size()));
        out.insert(out.end(), m_Nodes.begin(), m_Nodes.end());
        out.insert(out.end(), m_Literals.begin(), m_Literals.end());
        return out;
    }

  private:
    void CheckSize() const {
        if (cf::HeaderSize + m_Nodes.size() + m_Literals.size() > cf::MaxSize) m_Owner.TooComplex();
    }

    const TFilterExpr& m_Owner;
    std::vector<uint8_t> m_Nodes, m_Literals;
};

// ------------------------------------------------------------ tree

TFilterExpr::TFilterExpr(const TFilterFieldSource& fields, TFilterOptionSet options)
    : m_Fields(fields), m_Options(options) {}

TExprNode* TFilterExpr::NewField(const std::string& name) {
    auto n = std::make_unique<TExprNode>();
    n->Kind = TExprKind::Field;
    n->Op = fopField;
    n->Text = name;
    m_Nodes.push_back(std::move(n));
    return m_Nodes.back().get();
}

TExprNode* TFilterExpr::NewConstant(const std::string& text, bool isText) {
    auto n = std::make_unique<TExprNode>();
    n->Kind = TExprKind::Constant;
    n->Op = fopConstant;
    n->Text = text;
    n->IsText = isText;
    m_Nodes.push_back(std::move(n));
    return m_Nodes.back().get();
}

TExprNode* TFilterExpr::NewNull(const std::string& text) {
    TExprNode* n = NewConstant(text, false);
    n->IsNull = true;
    return n;
}

TExprNode* TFilterExpr::NewTruth(bool value) {
    TExprNode* n = NewConstant(value ? "1" : "0", false);
    n->IsTruth = true;
    return n;
}

TExprNode* TFilterExpr::NewOperator(uint8_t op, TExprNode* left, TExprNode* right) {
    auto n = std::make_unique<TExprNode>();
    n->Kind = TExprKind::Operator;
    n->Op = op;
    n->Left = left;
    n->Right = right;
    m_Nodes.push_back(std::move(n));
    return m_Nodes.back().get();
}

// ------------------------------------------------------------ compilation

namespace {

[[noreturn]] void Fail(const std::string& message) { throw EDatabaseError(message); }

uint8_t ReverseOp(uint8_t op) {
    switch (op) {
        case fopGt:
            return fopLt;
        case fopLt:
            return fopGt;
        case fopGe:
            return fopLe;
        case fopLe:
            return fopGe;
        default:
            return op;
    }
}

bool IsComparison(uint8_t op) { return op >= fopEq && op <= fopLe; }

std::string CutText(const std::string& text) {
    return text.size() > cf::MaxTextConstant ? text.substr(0, cf::MaxTextConstant) : text;
}

std::vector<uint8_t> TextValue(const std::string& text) {
    std::vector<uint8_t> v(text.begin(), text.end());
    v.push_back(0);
    return v;
}

}  // namespace

void TFilterExpr::TooComplex() const { RaiseEngineError(ecInvalidFilter, m_Fields.TableName()); }

std::vector<uint8_t> TFilterExpr::Compile(TExprNode* root) {
    TWriter w(*this);
    CompileCondition(root, w, 1);
    return w.Finish();
}

TFilterField TFilterExpr::LookupField(const std::string& name) const {
    std::optional<TFilterField> f = m_Fields.FindField(name);
    if (!f) Fail("Field '" + name + "' not found");
    if (f->Kind != TFilterFieldKind::Data && f->Kind != TFilterFieldKind::InternalCalculated)
        Fail("Field '" + f->Name + "' cannot be used in a filter expression");
    return *f;
}

// A node that stands where a condition is expected: the root and the
// operands of AND, OR and NOT. Each node is written before its operands and
// returns its offset, which the parent stores once the operand is placed.
size_t TFilterExpr::CompileCondition(TExprNode* node, TWriter& w, int depth) {
    // Every condition has operands one level further down.
    if (depth >= cf::MaxDepth) TooComplex();
    switch (node->Kind) {
        case TExprKind::Field: {
            // A Boolean field alone means field = TRUE.
            TFilterField f = LookupField(node->Text);
            if (f.Type != ftBoolean) Fail("Field '" + f.Name + "' is not of type Boolean");
            size_t at = w.AddNode(fncBinary, fopEq, 2);
            w.SetOperand(at, 0, w.AddField(f));
            w.SetOperand(at, 1, w.AddConstant(ftBoolean, {1, 0}));
            return at;
        }
        case TExprKind::Constant:
            Fail("Incorrectly formed filter expression");
        case TExprKind::Operator:
            break;
    }
    switch (node->Op) {
        case fopAnd:
        case fopOr: {
            size_t at = w.AddNode(fncBinary, node->Op, 2);
            w.SetOperand(at, 0, CompileCondition(node->Left, w, depth + 1));
            w.SetOperand(at, 1, CompileCondition(node->Right, w, depth + 1));
            return at;
        }
        case fopNot: {
            size_t at = w.AddNode(fncUnary, fopNot, 1);
            w.SetOperand(at, 0, CompileCondition(node->Left, w, depth + 1));
            return at;
        }
        default:
            if (!IsComparison(node->Op)) Fail("Incorrectly formed filter expression");
            return CompileComparison(node, w);
    }
}

size_t TFilterExpr::CompileComparison(TExprNode* node, TWriter& w) {
    TExprNode* left = node->Left;
    TExprNode* right = node->Right;
    uint8_t op = node->Op;
    // A field on the right only: the field goes left and the operator turns.
    if (right->Kind == TExprKind::Field && left->Kind != TExprKind::Field) {
        std::swap(left, right);
        op = ReverseOp(op);
    }
    // The left operand names the field, whatever its form; an operator has
    // no name to look up.
    if (left->Kind == TExprKind::Operator) Fail("Incorrectly formed filter expression");
    TFilterField field = LookupField(left->Text);

    if (right->Kind == TExprKind::Field) {
        TFilterField other = LookupField(right->Text);
        size_t at = w.AddNode(fncBinary, op, 2);
        w.SetOperand(at, 0, w.AddField(field));
        w.SetOperand(at, 1, w.AddField(other));
        return at;
    }
    if (right->Kind == TExprKind::Operator) Fail("Incorrectly formed filter expression");
    if (right->IsNull) {
        if (op != fopEq && op != fopNe) Fail("NULL only allowed with '=' and '<>'");
        size_t at = w.AddNode(fncUnary, op == fopEq ? fopIsNull : fopIsNotNull, 1);
        w.SetOperand(at, 0, w.AddField(field));
        return at;
    }

    // Text = or <> with a text constant: case-insensitive on request, and a
    // constant ending in "*" (longer than the "*" alone) compares a prefix.
    if (field.Type == ftString && (op == fopEq || op == fopNe) && !right->Text.empty()) {
        std::string text = right->Text;
        bool caseInsensitive = (m_Options & foCaseInsensitive) != 0;
        size_t partial = 0;
        if (!(m_Options & foNoPartialCompare) && text.size() > 1 && text.back() == '*') {
            text = CutText(text.substr(0, text.size() - 1));
            partial = text.size();
        }
        if (caseInsensitive || partial > 0) {
            node->Partial = partial > 0;
            size_t at = w.AddNode(fncCompare, op, 4);
            w.SetOperand(at, 0, caseInsensitive ? 1 : 0);
            w.SetOperand(at, 1, partial);
            w.SetOperand(at, 2, w.AddField(field));
            w.SetOperand(at, 3, w.AddConstant(ftString, TextValue(CutText(text))));
            return at;
        }
    }
    size_t at = w.AddNode(fncBinary, op, 2);
    w.SetOperand(at, 0, w.AddField(field));
    w.SetOperand(at, 1, WriteConstant(field, right, w));
    return at;
}

// The constant converted to the field's type, in the type's stored form.
size_t TFilterExpr::WriteConstant(const TFilterField& field, const TExprNode* constant,
                                  TWriter& w) {
    const std::string& text = constant->Text;
    const TFormatSettings& fs = FormatSettings();
    std::vector<uint8_t> v;
    auto integer = [&](int64_t low, int64_t high) {
        int64_t n = TextToInteger(text);
        if (n < low || n > high) Fail("Constant out of range");
        return n;
    };
    switch (field.Type) {
        case ftString:
            return w.AddConstant(ftString, TextValue(CutText(text)));
        case ftSmallInt:
            v.resize(2);
            PutI16(v.data(), int16_t(integer(-32768, 32767)));
            return w.AddConstant(ftSmallInt, v);
        case ftWord:
            v.resize(2);
            PutU16(v.data(), uint16_t(integer(0, 65535)));
            return w.AddConstant(ftWord, v);
        case ftInteger: {
            int64_t n = TextToInteger(text);
            if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
                throw EConvertError("'" + text + "' is not a valid integer value");
            v.resize(4);
            PutI32(v.data(), int32_t(n));
            return w.AddConstant(ftInteger, v);
        }
        case ftBoolean: {
            bool truth = constant->IsTruth ? text == "1" : TextToBoolean(text);
            return w.AddConstant(ftBoolean, {uint8_t(truth ? 1 : 0), 0});
        }
        case ftFloat:
            v.resize(8);
            PutF64(v.data(), TextToFloat(text, fs));
            return w.AddConstant(ftFloat, v);
        case ftBCD: {
            int64_t packed;
            if (!PackBcd(TextToCurrency(text, fs), field.Decimals, packed))
                throw EConvertError("'" + text + "' is not a valid floating point value");
            v.resize(8);
            PutI64(v.data(), packed);
            return w.AddConstant(ftBCD, v);
        }
        case ftDate:
            v.resize(4);
            PutI32(v.data(), TextToDate(text, fs));
            return w.AddConstant(ftDate, v);
        case ftTime:
            v.resize(4);
            PutI32(v.data(), TextToTime(text, fs));
            return w.AddConstant(ftTime, v);
        case ftDateTime: {
            int32_t day = 0, ms = 0;
            TextToDateTime(text, fs, day, ms);
            v.resize(8);
            PutF64(v.data(), double(day) * 86400000.0 + ms);
            return w.AddConstant(ftDateTime, v);
        }
        default:
            Fail("Field '" + field.Name + "' cannot be used in a filter expression");
    }
}

}  // namespace veltra
