// JsValue: a value that crossed from JavaScript, with its JavaScript type kept.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace foundation {

// null, boolean, number, string, array or object. Booleans and numbers stay distinct, so
// the controller can tell a `true` from a 1 where that matters.
class JsValue {
public:
    using Array = std::vector<JsValue>;
    using Object = std::map<std::string, JsValue>;

    JsValue() = default;  // null
    JsValue(std::nullptr_t) {}
    JsValue(bool b) : value_(b) {}
    JsValue(double n) : value_(n) {}
    JsValue(int n) : value_(static_cast<double>(n)) {}
    JsValue(const char* s) : value_(std::string(s)) {}
    JsValue(std::string s) : value_(std::move(s)) {}
    JsValue(Array a) : value_(std::move(a)) {}
    JsValue(Object o) : value_(std::move(o)) {}

    bool isNull() const { return std::holds_alternative<std::monostate>(value_); }
    bool isBoolean() const { return std::holds_alternative<bool>(value_); }
    bool isNumber() const { return std::holds_alternative<double>(value_); }
    bool isString() const { return std::holds_alternative<std::string>(value_); }
    bool isArray() const { return std::holds_alternative<Array>(value_); }
    bool isObject() const { return std::holds_alternative<Object>(value_); }

    // Each accessor gives the value when it is of that type, otherwise nothing.
    std::optional<bool> boolean() const;
    std::optional<double> number() const;
    const std::string* string() const;
    const Array* array() const;
    const Object* object() const;

    // The member `key` of an object; nullptr when this is not an object or has no such member.
    const JsValue* member(const std::string& key) const;

    // Compact JSON text; non-finite numbers become null as in JSON.stringify.
    std::string toJson() const;

    bool operator==(const JsValue&) const = default;

private:
    std::variant<std::monostate, bool, double, std::string, Array, Object> value_;
};

}  // namespace foundation
