// Filter expressions, third stage: the evaluation tree rebuilt from a
// compiled filter (filter_compiler.h), evaluated per record and answered
// from the table's indexes where it can.
//
// Evaluation of one record:
//   - a field takes its value and null flag from the record image;
//   - is null / is not null test the null flag; NOT inverts;
//   - AND evaluates its right operand first and the left only when the right
//     is true; OR the right first and the left only when the right is false;
//   - = : two nulls are equal, a null and a value unequal, else the values
//     compare by type; <> is its exact opposite;
//   - < > <= >= ignore the null flags: a null field takes part with the zero
//     value the engine stores for it (so a null date is before every date);
//   - a compare node compares text only: case-insensitive on request and,
//     with a partial length n, over the first n characters (a prefix test).
// Comparison by type: text with text (the table locale's string comparison,
// or without a locale unsigned bytes, a..z upper-cased when case is ignored);
// SmallInt, Integer, Word, Float and BCD as numbers across these types (a BCD
// value as its currency amount in ten-thousandths, the other side scaled by
// 10000); Date with Date, Date with DateTime (the date at midnight), Time with
// Time, DateTime with DateTime; Boolean with Boolean by truth. Any other pair
// compares false. A text constant of size 1 (the empty text) is null.
//
// Grades (computed once, when the tree is built): a comparison of a field with
// a constant, and is null / is not null, are grade 0 when an index of the
// table has that field as its first key field (for a text field compared by a
// plain binary node a case-sensitive index, for a compare node an index of the
// same case-insensitivity, for the null tests any index), else grade 2; a
// prefix comparison in a table with a locale is always grade 2, because the
// locale's order does not keep the texts of one prefix together. NOT
// takes its operand's grade. AND is 0 when both operands are 0, 1 when one is
// 0 or 1 (the better one becomes its first operand), else 2. OR is 0 when both
// are 0, else 2. In a table without primary index every node is grade 2.
//
// Bitmaps: a node of grade 2 is answered by reading the candidate records and
// evaluating the node on each; a grade-0 comparison by counting the key range
// that satisfies it on the first key field of the first qualifying index
// (lowest slot) and marking the smaller side: the records inside, or those
// outside followed by inversion. AND answers its second operand only on the
// records its first operand passed; OR unites, NOT complements its operands'
// answers. Ranges of < > <= >= run between non-null keys, so a null field
// never passes them when an index answers them, while reading the record lets
// it pass as a zero value: the two answers differ only there.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "filter_compiler.h"
#include "index_filter.h"

namespace veltra {

class TDataFile;
class TLocaleCollator;

class TExpressionFilter : public TFilterEvaluator {
  public:
    // Rebuilds the evaluation tree of a compiled filter for `table` and grades
    // it against the table's indexes. A compiled filter that is malformed,
    // truncated or names a field the table lacks is engine error 10051.
    TExpressionFilter(TDataFile& table, const uint8_t* data, size_t size);

    bool Matches(const uint8_t* record) const override;
    std::unique_ptr<TFilterEvaluator> Clone() const override;
    // Answers from the indexes and the candidate records (see above). When
    // reading a record reveals another process's change, the table has been
    // re-read meanwhile: returns false (bitmap cleared) so that the caller
    // tests every live record of the fresh table instead.
    bool BuildBitmap(TDataFile& table, const TRecordBitmap& live, TRecordBitmap& bitmap) override;

    // Index-use grade of the whole filter: 0, 1 or 2.
    int Grade() const { return m_Nodes.front().Grade; }

  private:
    struct TNode {
        uint8_t Class = 0;
        uint8_t Op = 0;
        uint8_t Grade = 2;
        // Field nodes: the field as the table defines it.
        int FieldNo = 0;
        uint8_t Type = 0;
        int Size = 0;  // physical size
        uint8_t Decimals = 0;
        uint16_t Offset = 0;
        bool AutoIncrement = false;
        bool Computed = false;
        // Constant nodes: the value in its stored form (zero-padded to at
        // least 8 bytes) and its size.
        std::vector<uint8_t> Value;
        int ValueSize = 0;
        bool Null = false;
        // Compare nodes.
        int PartialLength = 0;
        bool CaseInsensitive = false;
        // Operands (indexes into m_Nodes), -1 when none.
        int Left = -1;
        int Right = -1;
        // Grade-0 comparisons: the index slot that answers them.
        int IndexSlot = -1;
    };
    struct TValue;
    struct TTableChangedWhileReading {};

    // Building the tree.
    int Load(TDataFile& table, const uint8_t* nodes, size_t nodeLength, const uint8_t* literals,
             size_t literalLength, size_t offset, int depth, std::vector<bool>& used);
    bool IsCondition(int i) const;
    int ComputeGrade(TDataFile& table, int i);
    int QualifyingIndex(TDataFile& table, const TNode& field, int caseMode) const;

    // Evaluation.
    bool Evaluate(int i, const uint8_t* record) const;
    TValue ValueOf(const TNode& n, const uint8_t* record) const;
    int CompareText(const TValue& a, const TValue& b, bool caseInsensitive, int partial) const;
    bool CompareValues(const TValue& a, const TValue& b, int& result) const;

    // Bitmaps.
    TRecordBitmap Answer(int i, const TRecordBitmap& in, TDataFile& table) const;
    TRecordBitmap ReadRecords(int i, const TRecordBitmap& in, TDataFile& table) const;
    bool IndexAnswer(int i, TDataFile& table, TRecordBitmap& out) const;

    std::vector<TNode> m_Nodes;  // the root first
    std::shared_ptr<const TLocaleCollator> m_Collator;
    int m_RecordSize = 0;
};

// Compiles a filter text against an open table and returns its evaluator, for
// TDataFile::AddFilter. Raises the parser's and the compiler's errors.
std::unique_ptr<TExpressionFilter> CreateExpressionFilter(TDataFile& table, const std::string& text,
                                                          TFilterOptionSet options);

}  // namespace veltra
