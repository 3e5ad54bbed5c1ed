// SPDX-License-Identifier: MIT
#include "store/TableSql.h"

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace dao {

namespace {

struct Token {
    enum Kind { Word, Quoted, String, Symbol } kind;
    std::string text; // a word in upper case, a quoted name without its quotes, a symbol as written
    std::size_t begin;
    std::size_t end;
};

bool isWordCharacter(char c) {
    // Bytes of UTF-8 sequences belong to words, as SQLite's tokenizer takes them.
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || static_cast<unsigned char>(c) >= 0x80;
}

// SQLite's tokens, as far as a table's definition needs them: words, quoted names ("x", [x],
// `x`), strings, and single-character symbols; comments and white space are skipped.
std::vector<Token> tokenize(const std::string& sql) {
    std::vector<Token> tokens;
    std::size_t i = 0;
    const std::size_t n = sql.size();
    while (i < n) {
        const char c = sql[i];
        if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;
        } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
            i = sql.find('\n', i);
            i = i == std::string::npos ? n : i + 1;
        } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
            i = sql.find("*/", i + 2);
            i = i == std::string::npos ? n : i + 2;
        } else if (c == '"' || c == '`' || c == '\'' || c == '[') {
            const char close = c == '[' ? ']' : c;
            std::string text;
            std::size_t j = i + 1;
            while (j < n) {
                if (sql[j] == close) {
                    if (close != ']' && j + 1 < n && sql[j + 1] == close) {
                        text += close;
                        j += 2;
                        continue;
                    }
                    break;
                }
                text += sql[j++];
            }
            const std::size_t end = std::min(j + 1, n);
            tokens.push_back({c == '\'' ? Token::String : Token::Quoted, std::move(text), i, end});
            i = end;
        } else if (isWordCharacter(c)) {
            std::size_t j = i;
            std::string word;
            while (j < n && isWordCharacter(sql[j]))
                word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[j++])));
            tokens.push_back({Token::Word, std::move(word), i, j});
            i = j;
        } else {
            tokens.push_back({Token::Symbol, std::string(1, c), i, i + 1});
            ++i;
        }
    }
    return tokens;
}

bool isWord(const Token& token, const char* word) {
    return token.kind == Token::Word && token.text == word;
}

bool isSymbol(const Token& token, char symbol) {
    return token.kind == Token::Symbol && token.text[0] == symbol;
}

// The index of the ")" that closes the "(" at `open`, or tokens.size() when none does.
std::size_t closing(const std::vector<Token>& tokens, std::size_t open) {
    int depth = 0;
    for (std::size_t i = open; i < tokens.size(); ++i) {
        if (isSymbol(tokens[i], '('))
            ++depth;
        else if (isSymbol(tokens[i], ')') && --depth == 0)
            return i;
    }
    return tokens.size();
}

// A name as the text gives it: a word as written, a quoted name without its quotes.
std::string nameOf(const std::string& sql, const Token& token) {
    return token.kind == Token::Word ? sql.substr(token.begin, token.end - token.begin) : token.text;
}

bool startsTableConstraint(const Token& token) {
    return isWord(token, "CONSTRAINT") || isWord(token, "PRIMARY") || isWord(token, "UNIQUE") ||
           isWord(token, "CHECK") || isWord(token, "FOREIGN");
}

} // namespace

TableSql TableSql::parse(const std::string& sql) {
    TableSql table;
    const std::vector<Token> tokens = tokenize(sql);
    // CREATE [TEMP] TABLE [IF NOT EXISTS] [schema.]name ( definitions ) [options]
    std::size_t open = 0;
    while (open < tokens.size() && !isSymbol(tokens[open], '('))
        ++open;
    const std::size_t close = closing(tokens, open);
    if (open >= tokens.size() || close >= tokens.size())
        return table;

    // Each definition runs to the next comma outside parentheses.
    std::size_t start = open + 1;
    while (start < close) {
        std::size_t end = start;
        for (int depth = 0; end < close; ++end) {
            if (isSymbol(tokens[end], '('))
                ++depth;
            else if (isSymbol(tokens[end], ')'))
                --depth;
            else if (depth == 0 && isSymbol(tokens[end], ','))
                break;
        }
        std::string owner;
        if (!startsTableConstraint(tokens[start]))
            owner = nameOf(sql, tokens[start]);
        for (std::size_t i = start; i < end; ++i) {
            if (isWord(tokens[i], "CONSTRAINT") && i + 1 < end && owner.empty() &&
                startsTableConstraint(tokens[start]))
                owner = nameOf(sql, tokens[i + 1]);
            if (isWord(tokens[i], "CHECK") && i + 1 < end && isSymbol(tokens[i + 1], '(')) {
                const std::size_t last = closing(tokens, i + 1);
                if (last < end && last > i + 2)
                    table.checks.push_back(
                        {owner, sql.substr(tokens[i + 2].begin, tokens[last - 1].end - tokens[i + 2].begin)});
                else if (last < end)
                    table.checks.push_back({owner, ""});
                i = std::min(last, end);
            } else if (isWord(tokens[i], "ON") && i + 2 < end && isWord(tokens[i + 1], "CONFLICT")) {
                table.conflictResolutions.push_back({owner, tokens[i + 2].text});
                i += 2;
            }
        }
        start = end + 1;
    }

    for (std::size_t i = close + 1; i < tokens.size(); ++i) {
        if (isWord(tokens[i], "STRICT"))
            table.strict = true;
        else if (isWord(tokens[i], "WITHOUT") && i + 1 < tokens.size() && isWord(tokens[i + 1], "ROWID"))
            table.withoutRowid = true;
    }
    return table;
}

} // namespace dao
