#include "http/BRHTTPChallenge.h"

#include "http/BRHTTPText.h"

namespace {

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsToken68Char(char c) { return IsAlnum(c) || std::string_view("-._~+/").find(c) != std::string_view::npos; }

// Control characters other than the tab may not appear in a quoted string.
// Values are echoed into the Authorization header, so a line end or a NUL in
// one must never get that far.
bool IsControl(char c) { return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f; }

}  // namespace

const std::string* BRHTTPChallenge::Param(std::string_view lowercaseName) const {
    for (const auto& param : params)
        if (param.first == lowercaseName) return &param.second;
    return nullptr;
}

std::vector<BRHTTPChallenge> BRHTTPChallenge::Parse(std::string_view text) {
    // The field value is a comma-separated list whose elements are either a
    // new challenge (a scheme, optionally followed by blanks and a token68 or
    // its first parameter) or one more parameter of the challenge before.
    enum class State {
        ElementStart,  // before a list element
        AfterScheme,   // right after a challenge's scheme
        ParamValue,    // after "name =" of a parameter
        ElementEnd,    // after an element: blanks, then a comma or the end
        Skip,          // a malformed element: resume after the next comma
    };
    std::vector<BRHTTPChallenge> challenges;
    // Whether the last challenge takes parameters: not after a token68, and
    // not once it has been dropped as malformed.
    bool open = false;
    std::string name;  // the parameter whose value comes next
    const size_t n = text.size();
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < n && BRHTTPText::IsBlank(text[i])) ++i;
    };
    auto take = [&](bool (*isChar)(char)) {
        const size_t start = i;
        while (i < n && isChar(text[i])) ++i;
        return text.substr(start, i - start);
    };
    auto atElementEnd = [&] { return i == n || text[i] == ','; };

    State state = State::ElementStart;
    for (;;) {
        switch (state) {
        case State::ElementStart: {
            while (i < n && (BRHTTPText::IsBlank(text[i]) || text[i] == ',')) ++i;  // empty elements
            if (i == n) return challenges;
            const std::string_view word = take(BRHTTPText::IsTokenChar);
            if (word.empty()) {
                state = State::Skip;
                break;
            }
            const size_t afterWord = i;
            skipBlanks();
            if (i < n && text[i] == '=') {
                ++i;
                skipBlanks();
                name = BRHTTPText::Lower(word);
                state = State::ParamValue;
                break;
            }
            i = afterWord;
            challenges.push_back(BRHTTPChallenge{BRHTTPText::Lower(word), {}, {}});
            open = true;
            state = State::AfterScheme;
            break;
        }
        case State::AfterScheme: {
            const size_t afterScheme = i;
            skipBlanks();
            if (atElementEnd()) {
                state = State::ElementEnd;
                break;
            }
            if (i == afterScheme) {  // the scheme must be followed by a blank
                state = State::Skip;
                break;
            }
            // A token68 is its characters and trailing '=', alone up to the
            // element's end; anything else there is the first parameter.
            const size_t start = i;
            take(IsToken68Char);
            while (i < n && text[i] == '=') ++i;
            const size_t end = i;
            skipBlanks();
            if (end > start && atElementEnd()) {
                challenges.back().token68 = std::string(text.substr(start, end - start));
                open = false;
                state = State::ElementEnd;
                break;
            }
            i = start;
            const std::string_view word = take(BRHTTPText::IsTokenChar);
            skipBlanks();
            if (word.empty() || i == n || text[i] != '=') {
                state = State::Skip;
                break;
            }
            ++i;
            skipBlanks();
            name = BRHTTPText::Lower(word);
            state = State::ParamValue;
            break;
        }
        case State::ParamValue: {
            std::string value;
            bool ok = true;
            if (i < n && text[i] == '"') {
                // Read to the closing quote even past a bad character, so that
                // a comma inside the string is not taken for a list comma.
                bool closed = false;
                for (++i; i < n; ++i) {
                    char c = text[i];
                    if (c == '"') {
                        closed = true;
                        ++i;
                        break;
                    }
                    if (c == '\\' && i + 1 < n) c = text[++i];
                    ok = ok && !IsControl(c);
                    value += c;
                }
                ok = ok && closed;
            } else {
                value = std::string(take(BRHTTPText::IsTokenChar));
                ok = !value.empty();
            }
            if (!ok) {
                state = State::Skip;
                break;
            }
            // A parameter without a challenge to take it is dropped.
            if (open) challenges.back().params.emplace_back(name, std::move(value));
            state = State::ElementEnd;
            break;
        }
        case State::ElementEnd:
            skipBlanks();
            if (i == n) return challenges;
            if (text[i] == ',') {
                ++i;
                state = State::ElementStart;
            } else {
                state = State::Skip;
            }
            break;
        case State::Skip: {
            // The challenge the element belongs to cannot be trusted: drop it
            // with the parameters read so far.
            if (open) challenges.pop_back();
            open = false;
            bool quoted = false;
            while (i < n && (quoted || text[i] != ',')) {
                if (quoted && text[i] == '\\' && i + 1 < n)
                    ++i;
                else if (text[i] == '"')
                    quoted = !quoted;
                ++i;
            }
            state = State::ElementStart;
            break;
        }
        }
    }
}
