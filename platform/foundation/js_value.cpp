#include "platform/foundation/js_value.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace foundation {

namespace {

// Formats a finite number the way JavaScript's Number#toString does, so the text the page
// receives is what it would have produced itself: integers without ".0", plain notation
// from 1e-7 up to 1e21 and exponent notation outside. The digits are the shortest ones that
// read back as the same double.
void appendNumber(std::string& out, double n) {
    if (n == 0) {  // also -0, which JSON.stringify prints as 0
        out += '0';
        return;
    }
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n, std::chars_format::scientific);
    if (result.ec != std::errc()) {
        out += "null";  // cannot happen for a finite double with this buffer size
        return;
    }
    // "-d.ddde±xx" → sign, significant digits, decimal exponent.
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    if (text.front() == '-') {
        out += '-';
        text.remove_prefix(1);
    }
    const std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.') {
            digits += c;
        }
    }
    const int exponent = std::atoi(std::string(text.substr(e + 1)).c_str());

    // n is 0.d1d2...dk × 10^point, as in ECMAScript's Number::toString.
    const int k = static_cast<int>(digits.size());
    const int point = exponent + 1;
    if (k <= point && point <= 21) {
        out += digits;
        out.append(static_cast<std::size_t>(point - k), '0');
    } else if (0 < point && point <= 21) {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out += '.';
        out.append(digits, static_cast<std::size_t>(point));
    } else if (-6 < point && point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else {
        out += digits.front();
        if (k > 1) {
            out += '.';
            out.append(digits, 1);
        }
        out += 'e';
        out += exponent < 0 ? '-' : '+';
        out += std::to_string(std::abs(exponent));
    }
}

void appendString(std::string& out, const std::string& s) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    for (char c : s) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        } else {
            out += c;  // UTF-8 sequences go through as they are; JSON text is UTF-8
        }
    }
    out += '"';
}

}  // namespace

std::optional<bool> JsValue::boolean() const {
    if (const auto* b = std::get_if<bool>(&value_)) {
        return *b;
    }
    return std::nullopt;
}

std::optional<double> JsValue::number() const {
    if (const auto* n = std::get_if<double>(&value_)) {
        return *n;
    }
    return std::nullopt;
}

const std::string* JsValue::string() const { return std::get_if<std::string>(&value_); }

const JsValue::Array* JsValue::array() const { return std::get_if<Array>(&value_); }

const JsValue::Object* JsValue::object() const { return std::get_if<Object>(&value_); }

const JsValue* JsValue::member(const std::string& key) const {
    const Object* o = object();
    if (o == nullptr) {
        return nullptr;
    }
    const auto it = o->find(key);
    return it == o->end() ? nullptr : &it->second;
}

std::string JsValue::toJson() const {
    std::string out;
    if (isNull()) {
        out = "null";
    } else if (const auto b = boolean()) {
        out = *b ? "true" : "false";
    } else if (const auto n = number()) {
        if (std::isfinite(*n)) {
            appendNumber(out, *n);
        } else {
            out = "null";
        }
    } else if (const std::string* s = string()) {
        appendString(out, *s);
    } else if (const Array* a = array()) {
        out += '[';
        for (std::size_t i = 0; i < a->size(); ++i) {
            if (i > 0) {
                out += ',';
            }
            out += (*a)[i].toJson();
        }
        out += ']';
    } else if (const Object* o = object()) {
        out += '{';
        bool first = true;
        for (const auto& [key, value] : *o) {
            if (!first) {
                out += ',';
            }
            first = false;
            appendString(out, key);
            out += ':';
            out += value.toJson();
        }
        out += '}';
    }
    return out;
}

}  // namespace foundation
