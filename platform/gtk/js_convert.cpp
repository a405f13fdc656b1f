#include "platform/gtk/js_convert.h"

#include <cstdlib>
#include <string>

#include "platform/foundation/json_text.h"

namespace gtk {

namespace {

constexpr int kMaxDepth = foundation::kMaxJsonValueDepth;
// A page can give an array any length without storing anything in it; a length past this is
// not an inbox anyone has, and converting it would take the process's memory or minutes.
constexpr int kMaxArrayLength = 1 << 20;

foundation::JsValue convert(JSCValue* value, int depth) {
    if (depth > kMaxDepth || jsc_value_is_null(value) || jsc_value_is_undefined(value)) return {};
    if (jsc_value_is_boolean(value)) return {static_cast<bool>(jsc_value_to_boolean(value))};
    if (jsc_value_is_number(value)) return {jsc_value_to_double(value)};
    if (jsc_value_is_string(value)) {
        char* text = jsc_value_to_string(value);
        foundation::JsValue result(std::string(text ? text : ""));
        g_free(text);
        return result;
    }
    if (jsc_value_is_function(value)) return {};
    if (jsc_value_is_array(value)) {
        foundation::JsValue::Array array;
        JSCValue* lengthValue = jsc_value_object_get_property(value, "length");
        const int length = jsc_value_to_int32(lengthValue);
        g_object_unref(lengthValue);
        if (length < 0 || length > kMaxArrayLength) return {};
        array.reserve(length > 0 ? static_cast<size_t>(length) : 0);
        for (int i = 0; i < length; ++i) {
            JSCValue* element = jsc_value_object_get_property_at_index(value, static_cast<guint>(i));
            array.push_back(convert(element, depth + 1));
            g_object_unref(element);
        }
        return {std::move(array)};
    }
    if (jsc_value_is_object(value)) {
        foundation::JsValue::Object object;
        gchar** names = jsc_value_object_enumerate_properties(value);
        for (gchar** name = names; name && *name; ++name) {
            JSCValue* member = jsc_value_object_get_property(value, *name);
            object.emplace(*name, convert(member, depth + 1));
            g_object_unref(member);
        }
        g_strfreev(names);
        return {std::move(object)};
    }
    return {};
}

}  // namespace

foundation::JsValue toJsValue(JSCValue* value) { return value ? convert(value, 0) : foundation::JsValue(); }

foundation::JsValue fromJsonText(std::string_view json) {
    return foundation::parseJsonText(json).value_or(foundation::JsValue());
}

std::string answeringAsJsonText(std::string_view body) {
    // An arrow function keeps the outer function's `this` and `arguments`; JSON.stringify of
    // undefined is undefined, which arrives as null.
    std::string wrapped = "return JSON.stringify(await (async () => {\n";
    wrapped += body;
    wrapped += "\n})());";
    return wrapped;
}

}  // namespace gtk
