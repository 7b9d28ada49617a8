#include "platform/admission/CodeRequirement.h"

#include <algorithm>

namespace CodeRequirement {

namespace {

struct Token {
    std::string text;
    bool quoted = false;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Words, "=" and double-quoted strings (a backslash takes the next character
// literally). Nothing when a quote is left open.
std::optional<std::vector<Token>> tokens(std::string_view text) {
    std::vector<Token> result;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (isSpace(c)) {
            ++i;
        } else if (c == '=') {
            result.push_back({"=", false});
            ++i;
        } else if (c == '"') {
            std::string value;
            ++i;
            bool closed = false;
            while (i < text.size()) {
                if (text[i] == '\\' && i + 1 < text.size()) {
                    value += text[i + 1];
                    i += 2;
                } else if (text[i] == '"') {
                    closed = true;
                    ++i;
                    break;
                } else {
                    value += text[i++];
                }
            }
            if (!closed) return std::nullopt;
            result.push_back({std::move(value), true});
        } else {
            std::string word;
            while (i < text.size() && !isSpace(text[i]) && text[i] != '=' && text[i] != '"') word += text[i++];
            result.push_back({std::move(word), false});
        }
    }
    return result;
}

bool isWord(const Token& token, std::string_view word) { return !token.quoted && token.text == word; }

Clause clauseOf(const std::vector<Token>& words) {
    if (words.size() == 2 && isWord(words[0], "identifier") && !words[1].text.empty() &&
        (words[1].quoted || words[1].text != "=")) {
        return {Clause::Kind::identifier, words[1].text};
    }
    if (words.size() == 3 && isWord(words[0], "anchor") && isWord(words[1], "apple") && isWord(words[2], "generic")) {
        return {Clause::Kind::anchorAppleGeneric, {}};
    }
    if (words.size() == 4 && isWord(words[0], "certificate") && isWord(words[1], "leaf[subject.OU]") &&
        isWord(words[2], "=") && !words[3].text.empty() && (words[3].quoted || words[3].text != "=")) {
        return {Clause::Kind::teamIdentifier, words[3].text};
    }
    return {};
}

}  // namespace

std::vector<Clause> parse(std::string_view text) {
    const auto all = tokens(text);
    if (!all || all->empty()) return {Clause{}};
    std::vector<Clause> clauses;
    std::vector<Token> words;
    for (const auto& token : *all) {
        if (isWord(token, "and")) {
            clauses.push_back(clauseOf(words));
            words.clear();
        } else {
            words.push_back(token);
        }
    }
    clauses.push_back(clauseOf(words));
    return clauses;
}

bool isSatisfied(const std::vector<Clause>& clauses, const ExecutableFacts& facts) {
    if (clauses.empty()) return false;
    return std::all_of(clauses.begin(), clauses.end(), [&](const Clause& clause) {
        switch (clause.kind) {
        case Clause::Kind::identifier:
            return facts.bundleIdentifier == clause.value;
        case Clause::Kind::anchorAppleGeneric:
            return facts.installedByRoot;
        case Clause::Kind::teamIdentifier:
            return facts.teamIdentifier == clause.value;
        case Clause::Kind::unsupported:
            return false;
        }
        return false;
    });
}

}  // namespace CodeRequirement
