#include "filter_parser.h"

#include "errors.h"
#include "platform/db_error.h"

namespace veltra {

namespace {

[[noreturn]] void Fail(const std::string& message) { throw EDatabaseError(message); }

bool IsLetter(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 129 && c <= 254);
}
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
bool IsNameStart(uint8_t c) { return IsLetter(c) || c == '_'; }
bool IsNameChar(uint8_t c) { return IsLetter(c) || IsDigit(c) || c == '_'; }
bool IsNumberChar(uint8_t c) {
    return IsDigit(c) || c == '+' || c == '-' || c == '.' || c == 'E' || c == 'e';
}

bool SameWord(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        uint8_t x = uint8_t(a[i]), y = uint8_t(b[i]);
        if (x >= 'a' && x <= 'z') x = uint8_t(x - 32);
        if (y >= 'a' && y <= 'z') y = uint8_t(y - 32);
        if (x != y) return false;
    }
    return i == a.size() && b[i] == 0;
}

constexpr size_t kMaxStringToken = 256;

}  // namespace

TExprParser::TExprParser(const TFilterFieldSource& fields, TFilterOptionSet options,
                         const std::string& text)
    : m_Fields(fields), m_Expr(fields, options), m_Text(text.substr(0, text.find('\0'))) {
    NextToken();
    TExprNode* root = ParseExpression(1);
    if (m_Token != TToken::End) Fail("Filter expression incorrectly terminated");
    m_Data = m_Expr.Compile(root);
}

void TExprParser::TooDeep() const { RaiseEngineError(ecInvalidFilter, m_Fields.TableName()); }

void TExprParser::NextToken() {
    const size_t n = m_Text.size();
    while (m_Pos < n && uint8_t(m_Text[m_Pos]) >= 1 && uint8_t(m_Text[m_Pos]) <= 32) ++m_Pos;
    m_TokenText.clear();
    if (m_Pos >= n) {
        m_Token = TToken::End;
        return;
    }
    const size_t start = m_Pos;
    const uint8_t c = uint8_t(m_Text[m_Pos]);
    auto take = [&](TToken token, size_t length) {
        m_Token = token;
        m_TokenText = m_Text.substr(start, length);
        m_Pos = start + length;
    };
    if (IsNameStart(c)) {
        size_t end = start + 1;
        while (end < n && IsNameChar(uint8_t(m_Text[end]))) ++end;
        take(TToken::Name, end - start);
    } else if (c == '[') {
        size_t close = m_Text.find(']', start + 1);
        if (close == std::string::npos) Fail("Unterminated field name");
        m_Token = TToken::BracketName;
        m_TokenText = m_Text.substr(start + 1, close - start - 1);
        m_Pos = close + 1;
    } else if (c == '\'') {
        size_t p = start + 1;
        std::string value;
        for (;;) {
            if (p >= n) Fail("Unterminated string constant");
            char ch = m_Text[p];
            if (ch == '\'') {
                if (p + 1 < n && m_Text[p + 1] == '\'') {
                    p += 2;
                } else {
                    ++p;
                    break;
                }
            } else {
                ++p;
            }
            if (value.size() < kMaxStringToken) value += ch;
        }
        m_Token = TToken::String;
        m_TokenText = std::move(value);
        m_Pos = p;
    } else if (c == '-' || IsDigit(c)) {
        size_t end = start + 1;
        while (end < n && IsNumberChar(uint8_t(m_Text[end]))) ++end;
        take(TToken::Number, end - start);
    } else if (c == '(') {
        take(TToken::LParen, 1);
    } else if (c == ')') {
        take(TToken::RParen, 1);
    } else if (c == '=') {
        take(TToken::Eq, 1);
    } else if (c == '<') {
        char next = start + 1 < n ? m_Text[start + 1] : '\0';
        if (next == '=')
            take(TToken::Le, 2);
        else if (next == '>')
            take(TToken::Ne, 2);
        else
            take(TToken::Lt, 1);
    } else if (c == '>') {
        char next = start + 1 < n ? m_Text[start + 1] : '\0';
        if (next == '=')
            take(TToken::Ge, 2);
        else
            take(TToken::Gt, 1);
    } else {
        Fail("Invalid filter expression character: '" + std::string(1, char(c)) + "'");
    }
}

bool TExprParser::IsKeyword(const char* word) const {
    return m_Token == TToken::Name && SameWord(m_TokenText, word);
}

std::string TExprParser::Found() const {
    return m_Token == TToken::End ? std::string("nothing") : "'" + m_TokenText + "'";
}

TExprNode* TExprParser::ParseExpression(int depth) {
    if (depth > cf::MaxDepth) TooDeep();
    TExprNode* left = ParseAndTerm(depth);
    while (IsKeyword("OR")) {
        NextToken();
        TExprNode* right = ParseAndTerm(depth);
        left = m_Expr.NewOperator(fopOr, left, right);
    }
    return left;
}

TExprNode* TExprParser::ParseAndTerm(int depth) {
    TExprNode* left = ParseNotTerm(depth);
    while (IsKeyword("AND")) {
        NextToken();
        TExprNode* right = ParseNotTerm(depth);
        left = m_Expr.NewOperator(fopAnd, left, right);
    }
    return left;
}

TExprNode* TExprParser::ParseNotTerm(int depth) {
    if (IsKeyword("NOT")) {
        NextToken();
        return m_Expr.NewOperator(fopNot, ParseComparison(depth), nullptr);
    }
    return ParseComparison(depth);
}

TExprNode* TExprParser::ParseComparison(int depth) {
    TExprNode* left = ParseOperand(depth);
    uint8_t op;
    switch (m_Token) {
        case TToken::Eq:
            op = fopEq;
            break;
        case TToken::Ne:
            op = fopNe;
            break;
        case TToken::Lt:
            op = fopLt;
            break;
        case TToken::Gt:
            op = fopGt;
            break;
        case TToken::Le:
            op = fopLe;
            break;
        case TToken::Ge:
            op = fopGe;
            break;
        default:
            return left;
    }
    NextToken();
    TExprNode* right = ParseOperand(depth);
    return m_Expr.NewOperator(op, left, right);
}

TExprNode* TExprParser::ParseOperand(int depth) {
    TExprNode* node = nullptr;
    switch (m_Token) {
        case TToken::Name:
            if (IsKeyword("AND") || IsKeyword("OR") || IsKeyword("NOT"))
                Fail("Expression expected but " + Found() + " found");
            if (IsKeyword("NULL"))
                node = m_Expr.NewNull(m_TokenText);
            else if (IsKeyword(kFilterTrueWord))
                node = m_Expr.NewTruth(true);
            else if (IsKeyword(kFilterFalseWord))
                node = m_Expr.NewTruth(false);
            else
                node = m_Expr.NewField(m_TokenText);
            break;
        case TToken::BracketName:
            node = m_Expr.NewField(m_TokenText);
            break;
        case TToken::String:
            node = m_Expr.NewConstant(m_TokenText, true);
            break;
        case TToken::Number:
            node = m_Expr.NewConstant(m_TokenText, false);
            break;
        case TToken::LParen: {
            NextToken();
            TExprNode* inner = ParseExpression(depth + 1);
            if (m_Token != TToken::RParen) Fail("')' expected but " + Found() + " found");
            NextToken();
            return inner;
        }
        default:
            Fail("Expression expected but " + Found() + " found");
    }
    NextToken();
    return node;
}

}  // namespace veltra
