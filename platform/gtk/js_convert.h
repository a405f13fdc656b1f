// Conversion of JavaScriptCore values into the controller's JsValue.
#pragma once

#include <jsc/jsc.h>

#include "platform/foundation/js_value.h"

namespace gtk {

// Converts `value` with its JavaScript types kept: booleans stay booleans, numbers numbers;
// undefined and functions become null. Deeply nested values are cut off at a fixed depth
// so that a hostile page cannot exhaust the stack.
foundation::JsValue toJsValue(JSCValue* value);

// Parses JSON text through JavaScriptCore; null when the text is not JSON.
foundation::JsValue parseJson(JSCContext* context, const char* json);

}  // namespace gtk
