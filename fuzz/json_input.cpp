#include "fuzz/json_input.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>

// Written here rather than taken from json-glib: the fuzz inputs must become exactly the
// values the adapter hands the controller (numbers all doubles, booleans kept apart, the
// depth cut-off applied), the parser must stay cheap enough for thousands of runs a second,
// and it must let through string bytes that no UTF-8 validating parser would.
namespace fuzzing {

namespace {

// Nesting beyond this is refused outright, to bound the parser's own recursion; the values
// below kPageValueDepth are dropped long before.
constexpr int kSyntaxDepth = 512;

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<foundation::JsValue> document() {
        auto value = parseValue(0);
        skipSpace();
        if (!value || pos_ != text_.size()) return std::nullopt;
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

    // The value at `depth` (the document itself is at 0); a value deeper than the adapter
    // converts is parsed for its syntax and then given as null.
    std::optional<foundation::JsValue> parseValue(int depth) {
        if (depth > kSyntaxDepth) return std::nullopt;
        skipSpace();
        if (pos_ >= text_.size()) return std::nullopt;
        std::optional<foundation::JsValue> value;
        switch (text_[pos_]) {
            case '{':
                value = parseObject(depth);
                break;
            case '[':
                value = parseArray(depth);
                break;
            case '"':
                if (auto text = parseString()) value = foundation::JsValue(std::move(*text));
                break;
            case 't':
                if (takeWord("true")) value = foundation::JsValue(true);
                break;
            case 'f':
                if (takeWord("false")) value = foundation::JsValue(false);
                break;
            case 'n':
                if (takeWord("null")) value = foundation::JsValue();
                break;
            default:
                value = parseNumber();
                break;
        }
        if (value && depth > kPageValueDepth) return foundation::JsValue();
        return value;
    }

    std::optional<foundation::JsValue> parseObject(int depth) {
        ++pos_;  // "{"
        foundation::JsValue::Object object;
        if (take('}')) return foundation::JsValue(std::move(object));
        do {
            skipSpace();
            if (pos_ >= text_.size() || text_[pos_] != '"') return std::nullopt;
            auto key = parseString();
            if (!key || !take(':')) return std::nullopt;
            auto value = parseValue(depth + 1);
            if (!value) return std::nullopt;
            object.insert_or_assign(std::move(*key), std::move(*value));
        } while (take(','));
        if (!take('}')) return std::nullopt;
        return foundation::JsValue(std::move(object));
    }

    std::optional<foundation::JsValue> parseArray(int depth) {
        ++pos_;  // "["
        foundation::JsValue::Array array;
        if (take(']')) return foundation::JsValue(std::move(array));
        do {
            auto value = parseValue(depth + 1);
            if (!value) return std::nullopt;
            array.push_back(std::move(*value));
        } while (take(','));
        if (!take(']')) return std::nullopt;
        return foundation::JsValue(std::move(array));
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

    std::optional<std::string> parseString() {
        ++pos_;  // opening quote
        std::string out;
        while (pos_ < text_.size()) {
            const char c = text_[pos_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (pos_ >= text_.size()) return std::nullopt;
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
                    if (!code) return std::nullopt;
                    appendUtf8(out, *code);
                    break;
                }
                default:
                    return std::nullopt;
            }
        }
        return std::nullopt;
    }

    // JSON's number grammar, checked here because strtod takes forms JSON does not
    // ("+1", ".5", "1.", "01", "inf", hexadecimal).
    std::optional<foundation::JsValue> parseNumber() {
        const std::size_t start = pos_;
        const auto digits = [this] {
            const std::size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
            return pos_ - from;
        };
        if (pos_ < text_.size() && text_[pos_] == '-') ++pos_;
        const std::size_t integerStart = pos_;
        const std::size_t integerDigits = digits();
        if (integerDigits == 0 || (integerDigits > 1 && text_[integerStart] == '0')) return std::nullopt;
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (digits() == 0) return std::nullopt;
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (digits() == 0) return std::nullopt;
        }
        // The grammar is JSON's, so strtod reads the whole text; unlike from_chars it gives
        // an infinity on overflow and zero on underflow, as JSON.parse does. The process never
        // sets a locale, so the decimal point is ".".
        const std::string number(text_.substr(start, pos_ - start));
        return foundation::JsValue(std::strtod(number.c_str(), nullptr));
    }

    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace

std::optional<foundation::JsValue> parseJson(std::string_view text) { return Parser(text).document(); }

foundation::JsValue withoutNonFiniteNumbers(const foundation::JsValue& value) {
    if (const auto n = value.number()) return std::isfinite(*n) ? value : foundation::JsValue();
    if (const auto* array = value.array()) {
        foundation::JsValue::Array out;
        out.reserve(array->size());
        for (const auto& element : *array) out.push_back(withoutNonFiniteNumbers(element));
        return out;
    }
    if (const auto* object = value.object()) {
        foundation::JsValue::Object out;
        for (const auto& [key, member] : *object) out.emplace(key, withoutNonFiniteNumbers(member));
        return out;
    }
    return value;
}

}  // namespace fuzzing
