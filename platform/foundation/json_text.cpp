#include "platform/foundation/json_text.h"

#include <glib.h>

#include <cstdint>
#include <string>
#include <utility>

// Written here rather than taken from json-glib, whose reading differs from JavaScript's where
// page answers can reach it: integers beyond 64 bits wrap around, a lone surrogate escape
// fails the whole text, and a "\u0000" escape cuts its string short. The parser builds
// JsValue directly, which also makes it several times faster for an inbox of a thousand
// entries.
namespace foundation {

namespace {

// Nesting beyond this is refused outright, to bound the parser's own recursion; the values
// below kMaxJsonValueDepth are dropped long before.
constexpr int kSyntaxDepth = 512;

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<JsValue> document() {
        JsValue value;
        if (!parseValue(0, value)) return std::nullopt;
        skipSpace();
        if (pos_ != text_.size()) return std::nullopt;
        return value;
    }

private:
    void skipSpace() {
        while (pos_ < text_.size() &&
               (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }

    bool take(char c) {
        skipSpace();
        if (pos_ < text_.size() && text_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }

    bool takeWord(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return false;
        pos_ += word.size();
        return true;
    }

    // Reads the value at `depth` (the document itself is at 0) into `out`; false when the text
    // is not JSON there. A value deeper than kMaxJsonValueDepth is parsed for its syntax and
    // then given as null. The values are built in place, which keeps the parse of a large
    // inbox free of copies.
    bool parseValue(int depth, JsValue& out) {
        if (depth > kSyntaxDepth) return false;
        skipSpace();
        if (pos_ >= text_.size()) return false;
        bool parsed = false;
        switch (text_[pos_]) {
            case '{':
                parsed = parseObject(depth, out);
                break;
            case '[':
                parsed = parseArray(depth, out);
                break;
            case '"': {
                std::string text;
                parsed = parseString(text);
                if (parsed) out = JsValue(std::move(text));
                break;
            }
            case 't':
                parsed = takeWord("true");
                if (parsed) out = JsValue(true);
                break;
            case 'f':
                parsed = takeWord("false");
                if (parsed) out = JsValue(false);
                break;
            case 'n':
                parsed = takeWord("null");
                if (parsed) out = JsValue();
                break;
            default:
                parsed = parseNumber(out);
                break;
        }
        if (parsed && depth > kMaxJsonValueDepth) out = JsValue();
        return parsed;
    }

    bool parseObject(int depth, JsValue& out) {
        ++pos_;  // "{"
        JsValue::Object object;
        if (!take('}')) {
            do {
                skipSpace();
                std::string key;
                if (pos_ >= text_.size() || text_[pos_] != '"' || !parseString(key) || !take(':')) return false;
                JsValue value;
                if (!parseValue(depth + 1, value)) return false;
                object.insert_or_assign(std::move(key), std::move(value));
            } while (take(','));
            if (!take('}')) return false;
        }
        out = JsValue(std::move(object));
        return true;
    }

    bool parseArray(int depth, JsValue& out) {
        ++pos_;  // "["
        JsValue::Array array;
        if (!take(']')) {
            do {
                if (!parseValue(depth + 1, array.emplace_back())) return false;
            } while (take(','));
            if (!take(']')) return false;
        }
        out = JsValue(std::move(array));
        return true;
    }

    static void appendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    std::optional<std::uint32_t> parseHex4() {
        if (pos_ + 4 > text_.size()) return std::nullopt;
        std::uint32_t code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[pos_++];
            code <<= 4;
            if (c >= '0' && c <= '9') {
                code |= static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                code |= static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                code |= static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return std::nullopt;
            }
        }
        return code;
    }

    // A "\u" escape, with a following low surrogate joined to a high one. A lone surrogate
    // becomes U+FFFD, as JavaScriptCore's conversion of such a string to UTF-8 gives it.
    std::optional<std::uint32_t> parseEscapedCodePoint() {
        auto code = parseHex4();
        if (!code) return std::nullopt;
        if (*code >= 0xD800 && *code < 0xDC00 && text_.substr(pos_, 2) == "\\u") {
            const std::size_t mark = pos_;
            pos_ += 2;
            const auto low = parseHex4();
            if (low && *low >= 0xDC00 && *low < 0xE000) return 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
            pos_ = mark;  // not a pair: the next escape is read on its own
        }
        if (*code >= 0xD800 && *code < 0xE000) return 0xFFFD;
        return code;
    }

    bool parseString(std::string& out) {
        ++pos_;  // opening quote
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return false;
            const char escape = text_[pos_++];
            switch (escape) {
                case '"':
                case '\\':
                case '/':
                    out += escape;
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    const auto code = parseEscapedCodePoint();
                    if (!code) return false;
                    appendUtf8(out, *code);
                    break;
                }
                default:
                    return false;
            }
        }
        return false;
    }

    // JSON's number grammar, checked here because strtod takes forms JSON does not
    // ("+1", ".5", "1.", "01", "inf", hexadecimal).
    bool parseNumber(JsValue& out) {
        const std::size_t start = pos_;
        const auto digits = [this] {
            const std::size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        const std::size_t integerStart = pos_;
        const std::size_t integerDigits = digits();
        if (integerDigits == 0 || (integerDigits > 1 && text_[integerStart] == '0')) return false;
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) return false;
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (digits() == 0) return false;
        }
        // The grammar is JSON's, so the conversion reads the whole text; g_ascii_strtod gives
        // an infinity on overflow and zero on underflow, as JSON.parse does, and reads "." as
        // the decimal point whatever locale GTK set up (a French one writes ",").
        const std::string number(text_.substr(start, pos_ - start));
        out = JsValue(g_ascii_strtod(number.c_str(), nullptr));
        return true;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<JsValue> parseJsonText(std::string_view text) { return Parser(text).document(); }

}  // namespace foundation
