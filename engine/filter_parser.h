// Filter expressions, first stage: the filter text read into a parse tree,
// which is then compiled (filter_compiler.h).
//
// Tokens (characters with codes 1 to 32 between tokens are skipped; a zero
// character ends the text):
//   name            a letter (A-Z, a-z or a character 129..254) or "_",
//                   followed by letters, digits and "_"
//   bracketed name  "[" ... up to the first "]"; the name is the text between
//   string          "'" ... "'", with "''" standing for one quote; at most
//                   256 characters are kept, the rest are dropped
//   number          "-" or a digit, followed by digits, "+", "-", ".", "E", "e"
//   ( ) = <> < > <= >=
// Keywords are names compared without regard to case: AND, OR, NOT, NULL and
// the words for true and false ("True", "False"). Any other name, and every
// bracketed name, is a field reference.
//
// Grammar, lowest precedence first; operators of one level group from the left:
//   expression  = and-term { OR and-term }
//   and-term    = not-term { AND not-term }
//   not-term    = [ NOT ] comparison
//   comparison  = operand [ relational-operator operand ]
//   operand     = NULL | true | false | name | bracketed name | string | number
//               | "(" expression ")"
//
// Errors are the dataset's (EDatabaseError) with these texts:
//   "Invalid filter expression character: '%s'"   a character that starts no token
//   "Unterminated string constant"                 "'" without its closing quote
//   "Unterminated field name"                      "[" without "]"
//   "Expression expected but %s found"             an operand missing
//   "')' expected but %s found"                    ")" missing
//   "Filter expression incorrectly terminated"     text after the expression
// In the two "expected" messages %s is the offending token in single quotes
// (the name without its brackets, the string without its quotes, anything
// else as written), or the word "nothing" at the end of the text. Parentheses
// and NOTs nested deeper than the compiled form allows are engine error
// 10051. Compilation adds its own errors (filter_compiler.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "filter_compiler.h"

namespace veltra {

// The localised words for true and false.
inline constexpr const char* kFilterTrueWord = "True";
inline constexpr const char* kFilterFalseWord = "False";

class TExprParser {
  public:
    // Reads the whole text and compiles it against the fields; raises the
    // errors above and those of compilation.
    TExprParser(const TFilterFieldSource& fields, TFilterOptionSet options,
                const std::string& text);

    const std::vector<uint8_t>& FilterData() const { return m_Data; }
    size_t DataSize() const { return m_Data.size(); }

  private:
    enum class TToken : uint8_t {
        End,
        Name,
        BracketName,
        String,
        Number,
        LParen,
        RParen,
        Eq,
        Ne,
        Lt,
        Gt,
        Le,
        Ge
    };

    void NextToken();
    TExprNode* ParseExpression(int depth);
    TExprNode* ParseAndTerm(int depth);
    TExprNode* ParseNotTerm(int depth);
    TExprNode* ParseComparison(int depth);
    TExprNode* ParseOperand(int depth);
    bool IsKeyword(const char* word) const;
    // The current token for the "expected" messages.
    std::string Found() const;
    [[noreturn]] void TooDeep() const;

    const TFilterFieldSource& m_Fields;
    TFilterExpr m_Expr;
    std::string m_Text;  // up to the first zero character
    size_t m_Pos = 0;
    TToken m_Token = TToken::End;
    std::string m_TokenText;
    std::vector<uint8_t> m_Data;
};

}  // namespace veltra
