// JSON text read into JsValue, with JavaScript's own reading of it.
#pragma once

#include <optional>
#include <string_view>

#include "platform/foundation/js_value.h"

namespace foundation {

// Values nested deeper than this arrive as null, so that hostile input cannot exhaust the stack
// of whoever walks the value later.
inline constexpr int kMaxJsonValueDepth = 64;

// Reads `text` as JSON.parse would: every number a double (out of range becomes an infinity,
// integers past 64 bits included), a later duplicate member replacing an earlier one, a lone
// surrogate escape read as U+FFFD, "\u0000" kept inside its string; values nested deeper
// than kMaxJsonValueDepth become null. Bytes of 0x80 and above inside strings are taken as
// they are. nullopt when `text` is not JSON.
std::optional<JsValue> parseJsonText(std::string_view text);

}  // namespace foundation
