// Filter expressions, second stage: the parse tree (TFilterExpr and its
// nodes) and its compilation against the fields of a dataset into the
// compiled filter that the data file hands to the index file.
//
// Compiled filter (little-endian throughout):
//   header (10 bytes)  version 0 (2), total size (2), node count 65535 (2),
//                      node area offset 10 (2), literal area offset (2)
//   node area          node records, the root first; a parent is written
//                      before its operands
//   literal area       field names (zero-terminated) and constant values,
//                      in the order they were written
// Node records: class (4), operator code (4), then 2-byte operands:
//   1 unary    is null, is not null, NOT     operand offset
//   2 binary   = <> > < >= <= AND OR         left offset, right offset
//   3 compare  = or <> on text with options  case-insensitive flag, partial
//                                            length (0 = whole value),
//                                            field offset, constant offset
//   4 field    operator 13                   field number, name offset
//   5 constant operator 14                   field type code, size, value offset
// Node offsets count from the node area, name and value offsets from the
// literal area. Constant values are in the stored form of their type: text
// with its terminating zero; 2 bytes for SmallInt, Word and Boolean; 4 for
// Integer, Date (day number) and Time (milliseconds); 8 for Float, DateTime
// (day number x 86400000 + milliseconds, as a double) and BCD (packed).
//
// Compilation rules, node by node from the root:
//   - a field standing alone must be Boolean and means field = TRUE;
//   - AND and OR become binary nodes, NOT a unary node; a constant standing
//     alone is not a condition;
//   - in a comparison with a field on the right only, the operands swap and
//     < > <= >= turn around; the left operand is then looked up as a field by
//     its text (so two constants fail on the first one's lookup);
//   - field with field: a binary node; field = / <> NULL: is null / is not
//     null; NULL with any other operator is refused;
//   - text field = or <> a non-empty text constant: a compare node when the
//     options ask to ignore case, or when the constant is longer than one
//     character and ends in "*" (removed; the rest is a prefix) unless
//     foNoPartialCompare is set;
//   - any other constant is converted to the field's type with the number
//     and date formats in force (FormatSettings()).
//
// Errors raised here are the dataset's, EDatabaseError:
//   "Field '%s' not found", "Field '%s' cannot be used in a filter
//   expression" (a calculated or lookup field, or a type without constants),
//   "Field '%s' is not of type Boolean", "Incorrectly formed filter
//   expression" (a constant, or an operator, where a field or condition is
//   expected), "NULL only allowed with '=' and '<>'", "Constant out of range"
//   (SmallInt and Word); or the platform's EConvertError for a constant that
//   does not convert. A filter too large or too deeply nested for the
//   compiled form is engine error 10051 (invalid filter expression) naming
//   the table.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltra {

class TDataFile;

// Filter options (a set of flags).
enum TFilterOption : uint8_t {
    foCaseInsensitive = 1,   // = and <> between a text field and a text constant ignore case
    foNoPartialCompare = 2,  // a trailing "*" is an ordinary character
};
using TFilterOptionSet = uint8_t;

// Operator codes shared by the parse tree, the compiled filter and the
// evaluation tree.
enum TFilterOp : uint8_t {
    fopIsNull = 1,
    fopIsNotNull = 2,
    fopEq = 3,
    fopNe = 4,
    fopGt = 5,
    fopLt = 6,
    fopGe = 7,
    fopLe = 8,
    fopNot = 9,
    fopAnd = 10,
    fopOr = 11,
    fopField = 13,
    fopConstant = 14,
};

// Node classes of the compiled filter.
enum TFilterNodeClass : uint8_t {
    fncUnary = 1,
    fncBinary = 2,
    fncCompare = 3,
    fncField = 4,
    fncConstant = 5,
};

namespace cf {  // compiled filter layout
constexpr int HeaderSize = 10;
constexpr int Version = 0, TotalSize = 2, NodeCount = 4, NodeArea = 6, LiteralArea = 8;
constexpr uint16_t NodeCountValue = 65535;
constexpr int NodeHeader = 8;  // class and operator code
constexpr int UnarySize = NodeHeader + 2, BinarySize = NodeHeader + 4, CompareSize = NodeHeader + 8,
              FieldSize = NodeHeader + 4, ConstantSize = NodeHeader + 6;
constexpr size_t MaxSize = 65535;
// Deepest nesting of nodes a filter may have (the root is at depth 1), and of
// parentheses in its text; parsing, compilation and the evaluation tree all
// recurse along them.
constexpr int MaxDepth = 1000;
// Longest text constant, without its terminating zero.
constexpr size_t MaxTextConstant = 255;
}  // namespace cf

// How a field of the dataset may take part in a filter.
enum class TFilterFieldKind : uint8_t {
    Data,                // a stored field of the table
    InternalCalculated,  // computed by the table itself
    Calculated,          // computed by the dataset: not usable
    Lookup,              // looked up in another dataset: not usable
};

struct TFilterField {
    std::string Name;
    int FieldNo = 0;
    uint8_t Type = 0;  // engine field type code
    uint8_t SubType = 0;
    uint8_t Size = 0;  // declared size (characters of a String field)
    uint8_t Decimals = 0;
    TFilterFieldKind Kind = TFilterFieldKind::Data;
};

// The fields a filter is checked against: the dataset's fields.
class TFilterFieldSource {
  public:
    virtual ~TFilterFieldSource() = default;
    // The field of that name, compared without regard to case.
    virtual std::optional<TFilterField> FindField(const std::string& name) const = 0;
    // Name of the table, for engine errors.
    virtual std::string TableName() const = 0;
};

// The fields of an open table: stored fields are data fields, computed ones
// internal calculated fields.
class TTableFieldSource : public TFilterFieldSource {
  public:
    explicit TTableFieldSource(const TDataFile& table) : m_Table(table) {}
    std::optional<TFilterField> FindField(const std::string& name) const override;
    std::string TableName() const override;

  private:
    const TDataFile& m_Table;
};

// Parse tree node.
enum class TExprKind : uint8_t { Field = 0, Constant = 1, Operator = 2 };

struct TExprNode {
    TExprKind Kind = TExprKind::Constant;
    uint8_t Op = 0;        // operator code (13 field, 14 constant)
    std::string Text;      // field name, or the constant's text as written
    bool IsNull = false;   // the NULL constant
    bool IsTruth = false;  // the true or false word (Text is "1" or "0")
    bool IsText = false;   // a quoted string constant
    bool Partial = false;  // set by compilation for a prefix comparison
    TExprNode* Left = nullptr;
    TExprNode* Right = nullptr;
};

// Owns every node it creates and compiles a tree of them.
class TFilterExpr {
  public:
    TFilterExpr(const TFilterFieldSource& fields, TFilterOptionSet options);
    TFilterExpr(const TFilterExpr&) = delete;
    TFilterExpr& operator=(const TFilterExpr&) = delete;

    TExprNode* NewField(const std::string& name);
    TExprNode* NewConstant(const std::string& text, bool isText);
    TExprNode* NewNull(const std::string& text);
    TExprNode* NewTruth(bool value);
    TExprNode* NewOperator(uint8_t op, TExprNode* left, TExprNode* right);
    size_t NodeCount() const { return m_Nodes.size(); }

    // The compiled filter of the tree under root (see the layout above).
    std::vector<uint8_t> Compile(TExprNode* root);

  private:
    class TWriter;
    // Each writes its node (and the nodes under it) and returns its offset.
    size_t CompileCondition(TExprNode* node, TWriter& w, int depth);
    size_t CompileComparison(TExprNode* node, TWriter& w);
    size_t WriteConstant(const TFilterField& field, const TExprNode* constant, TWriter& w);
    TFilterField LookupField(const std::string& name) const;
    [[noreturn]] void TooComplex() const;

    const TFilterFieldSource& m_Fields;
    TFilterOptionSet m_Options;
    std::vector<std::unique_ptr<TExprNode>> m_Nodes;
};

}  // namespace veltra
