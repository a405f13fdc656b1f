// JSON text read into the controller's JsValue, for fuzz inputs that stand for page answers.
#pragma once

#include <optional>
#include <string_view>

#include "platform/foundation/js_value.h"

namespace fuzzing {

// The adapter cuts page values off below this depth; deeper values arrive as null.
inline constexpr int kPageValueDepth = 64;

// Reads `text` as JSON.parse would and converts the result as the adapter converts a page's
// value: every number a double (out of range becomes an infinity), a later duplicate member
// replacing an earlier one, values nested deeper than kPageValueDepth replaced by null.
// Bytes of 0x80 and above inside strings are taken as they are, valid UTF-8 or not, so the
// controller also meets text no page could send. nullopt when `text` is not JSON.
std::optional<foundation::JsValue> parseJson(std::string_view text);

// `value` with every non-finite number replaced by null, which is what its JSON text means.
foundation::JsValue withoutNonFiniteNumbers(const foundation::JsValue& value);

}  // namespace fuzzing
