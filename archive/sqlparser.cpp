#include "sqlparser.h"

#include "cp1252.h"
#include "valuetypes.h"

#include <charconv>

namespace archive::sql {
namespace {

enum class TokenKind { Word, Literal, Integer, Star, Comma, OpenParen, CloseParen, AtLeast, End };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;  // a word as written, a literal's content, a number's digits
    Position position;
};

bool isWordStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordChar(char c) { return isWordStart(c) || isDigit(c); }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

constexpr std::string_view kKeywords[] = {"SELECT", "FROM", "WHERE", "AND", "ORDER", "BY", "DESC", "UPPER", "LIKE"};

bool isKeyword(std::string_view word) {
    for (std::string_view keyword : kKeywords)
        if (equalsIgnoringAsciiCase(word, keyword)) return true;
    return false;
}

class Lexer {
public:
    explicit Lexer(std::string_view text) : text_(text) {}

    Token next() {
        while (pos_ < text_.size() && isBlank(text_[pos_])) advance();
        Token token;
        token.position = here_;
        if (pos_ >= text_.size()) return token;
        const char c = text_[pos_];
        if (isWordStart(c)) {
            token.kind = TokenKind::Word;
            while (pos_ < text_.size() && isWordChar(text_[pos_])) token.text += advance();
        } else if (isDigit(c) || (c == '-' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1]))) {
            token.kind = TokenKind::Integer;
            token.text += advance();
            while (pos_ < text_.size() && isDigit(text_[pos_])) token.text += advance();
            if (pos_ < text_.size() && isWordChar(text_[pos_]))
                throw EngineError(errorAt(token.position, "Ung\xFCltige Zahl '" + token.text + text_[pos_] + "'."));
        } else if (c == '"') {
            token.kind = TokenKind::Literal;
            advance();
            for (;;) {
                if (pos_ >= text_.size())
                    throw EngineError(errorAt(token.position, "Der Text in Anf\xFChrungszeichen ist nicht abgeschlossen."));
                const char inner = advance();
                if (inner != '"') {
                    token.text += inner;
                } else if (pos_ < text_.size() && text_[pos_] == '"') {
                    token.text += advance();  // a doubled quote stands for one
                } else {
                    break;
                }
            }
        } else if (c == '>' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '=') {
            token.kind = TokenKind::AtLeast;
            token.text += advance();
            token.text += advance();
        } else {
            switch (c) {
            case '*': token.kind = TokenKind::Star; break;
            case ',': token.kind = TokenKind::Comma; break;
            case '(': token.kind = TokenKind::OpenParen; break;
            case ')': token.kind = TokenKind::CloseParen; break;
            default:
                throw EngineError(errorAt(token.position, std::string("Unerwartetes Zeichen '") + c + "'."));
            }
            token.text += advance();
        }
        return token;
    }

private:
    char advance() {
        const char c = text_[pos_++];
        if (c == '\n') {
            ++here_.line;
            here_.column = 1;
        } else {
            ++here_.column;
        }
        return c;
    }

    std::string_view text_;
    size_t pos_ = 0;
    Position here_;
};

class Parser {
public:
    explicit Parser(std::string_view text) : lexer_(text) { token_ = lexer_.next(); }

    SelectStatement parse() {
        SelectStatement statement;
        expectKeyword("SELECT");
        expect(TokenKind::Star, "*");
        expectKeyword("FROM");
        if (token_.kind != TokenKind::Literal) fail("der Dateiname in Anf\xFChrungszeichen");
        statement.path = take().text;

        if (atKeyword("WHERE")) {
            take();
            statement.conditions.push_back(condition());
            while (atKeyword("AND")) {
                take();
                statement.conditions.push_back(condition());
            }
        }
        if (atKeyword("ORDER")) {
            take();
            expectKeyword("BY");
            statement.order.push_back(orderKey());
            if (token_.kind == TokenKind::Comma) {
                take();
                statement.order.push_back(orderKey());
            }
        }
        if (token_.kind != TokenKind::End) {
            if (statement.order.size() == 2) fail("das Ende der Anweisung");
            if (!statement.order.empty()) fail("DESC, ein Komma oder das Ende der Anweisung");
            if (!statement.conditions.empty()) fail("AND, ORDER BY oder das Ende der Anweisung");
            fail("WHERE, ORDER BY oder das Ende der Anweisung");
        }
        return statement;
    }

private:
    Condition condition() {
        Condition result;
        if (atKeyword("UPPER")) {
            take();
            expect(TokenKind::OpenParen, "(");
            result.fieldPosition = token_.position;
            result.field = fieldName();
            expect(TokenKind::CloseParen, ")");
            expectKeyword("LIKE");
            result.kind = ConditionKind::UpperLike;
            result.pattern = literal();
            return result;
        }
        result.fieldPosition = token_.position;
        result.field = fieldName();
        if (atKeyword("LIKE")) {
            take();
            result.kind = ConditionKind::Like;
            result.pattern = literal();
        } else if (token_.kind == TokenKind::AtLeast) {
            take();
            result.kind = ConditionKind::AtLeast;
            if (token_.kind != TokenKind::Integer) fail("eine ganze Zahl");
            const Token number = take();
            const char* end = number.text.data() + number.text.size();
            const auto [stop, ec] = std::from_chars(number.text.data(), end, result.minimum);
            if (ec != std::errc() || stop != end)
                throw EngineError(errorAt(number.position, "Die Zahl '" + number.text + "' ist zu gro\xDF."));
        } else {
            fail("LIKE oder >=");
        }
        return result;
    }

    OrderKey orderKey() {
        OrderKey key;
        key.fieldPosition = token_.position;
        key.field = fieldName();
        if (atKeyword("DESC")) {
            take();
            key.descending = true;
        }
        return key;
    }

    std::string fieldName() {
        if (token_.kind != TokenKind::Word || isKeyword(token_.text)) fail("ein Feldname");
        return take().text;
    }

    std::string literal() {
        if (token_.kind != TokenKind::Literal) fail("ein Text in Anf\xFChrungszeichen");
        return take().text;
    }

    bool atKeyword(std::string_view keyword) const {
        return token_.kind == TokenKind::Word && equalsIgnoringAsciiCase(token_.text, keyword);
    }

    void expectKeyword(std::string_view keyword) {
        if (!atKeyword(keyword)) fail(keyword);
        take();
    }

    void expect(TokenKind kind, std::string_view shown) {
        if (token_.kind != kind) fail(shown);
        take();
    }

    Token take() {
        Token taken = std::move(token_);
        token_ = lexer_.next();
        return taken;
    }

    [[noreturn]] void fail(std::string_view expected) const {
        std::string message = "Erwartet wurde ";
        message += expected;
        message += ", gefunden ";
        switch (token_.kind) {
        case TokenKind::End: message += "das Ende der Anweisung"; break;
        case TokenKind::Literal: message += "\"" + token_.text + "\""; break;
        default: message += "'" + token_.text + "'"; break;
        }
        message += '.';
        throw EngineError(errorAt(token_.position, message));
    }

    Lexer lexer_;
    Token token_;
};

}  // namespace

std::string errorAt(Position position, std::string_view message) {
    std::string text = "SQL-Fehler in Zeile " + std::to_string(position.line) + ", Spalte " +
                       std::to_string(position.column) + ": ";
    text += message;
    return text;
}

SelectStatement parseSelect(std::string_view text) { return Parser(text).parse(); }

}  // namespace archive::sql
