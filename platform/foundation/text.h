// Text helpers with exactly the semantics the controller relies on.
#pragma once

#include <string>
#include <string_view>

namespace foundation {

// Compares like a numeric string comparison: runs of ASCII digits compare by their value
// ("10" after "9", "1.10" after "1.9"), everything else by code point, no locale.
// Negative when a orders before b, zero when equal, positive when after.
int numericCompare(std::string_view a, std::string_view b);

// Percent-encodes every byte of the UTF-8 text except ASCII letters and digits, as %XX
// with upper-case hex ("payable:42" → "payable%3A42").
std::string percentEncodeIdentifier(std::string_view text);

// A fresh random UUID in the standard upper-case text form with hyphens.
std::string makeUuidString();

// Whether `text` starts with `prefix` / contains `part` (plain byte comparison).
inline bool startsWith(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
inline bool contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

}  // namespace foundation
