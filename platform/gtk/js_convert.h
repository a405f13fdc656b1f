// Conversion of JavaScriptCore values into the controller's JsValue.
#pragma once

#include <jsc/jsc.h>

#include <string_view>

#include "platform/foundation/js_value.h"

namespace gtk {

// Converts `value` with its JavaScript types kept: booleans stay booleans, numbers numbers;
// undefined and functions become null. Deeply nested values are cut off at a fixed depth
// so that a hostile page cannot exhaust the stack.
foundation::JsValue toJsValue(JSCValue* value);

// Reads JSON text as `toJsValue` would convert the value it stands for; null when the text is
// not JSON.
foundation::JsValue fromJsonText(std::string_view json);

// The body of an async JavaScript function that runs `body` and answers its value as JSON
// text. A value crosses from the web process as one string instead of as a tree of
// JavaScriptCore values, which costs several times less in both processes for an inbox of a
// thousand entries; page answers are JSON bodies from the service, which the text keeps whole.
std::string answeringAsJsonText(std::string_view body);

}  // namespace gtk
