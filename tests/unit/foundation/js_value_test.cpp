#include "platform/foundation/js_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

namespace foundation {
namespace {

using std::nullopt;

struct AccessorCase {
    const char* behaviour;
    JsValue value;
    bool isNull;
    std::optional<bool> boolean;
    std::optional<double> number;
    bool hasString;
    bool hasArray;
    bool hasObject;
};

const AccessorCase kAccessorCases[] = {
    {"null has no value of any type", JsValue(), true, nullopt, nullopt, false, false, false},
    {"true is a boolean, not a number", JsValue(true), false, true, nullopt, false, false, false},
    {"false is a boolean, not null", JsValue(false), false, false, nullopt, false, false, false},
    {"one is a number, not a boolean", JsValue(1), false, nullopt, 1.0, false, false, false},
    {"zero is a number, not false", JsValue(0.0), false, nullopt, 0.0, false, false, false},
    {"empty string is a string, not null", JsValue(""), false, nullopt, nullopt, true, false, false},
    {"string of digits is not a number", JsValue("1"), false, nullopt, nullopt, true, false, false},
    {"empty array is an array", JsValue(JsValue::Array{}), false, nullopt, nullopt, false, true, false},
    {"empty object is an object", JsValue(JsValue::Object{}), false, nullopt, nullopt, false, false, true},
};

TEST(JsValueAccessors, GiveAValueOnlyForTheMatchingType) {
    for (const auto& c : kAccessorCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(c.value.isNull(), c.isNull);
        EXPECT_EQ(c.value.boolean(), c.boolean);
        EXPECT_EQ(c.value.number(), c.number);
        EXPECT_EQ(c.value.string() != nullptr, c.hasString);
        EXPECT_EQ(c.value.array() != nullptr, c.hasArray);
        EXPECT_EQ(c.value.object() != nullptr, c.hasObject);
        EXPECT_EQ(c.value.member("a"), nullptr);
    }
}

TEST(JsValueAccessors, StringAccessorGivesTheText) {
    const JsValue value("velmora");
    ASSERT_NE(value.string(), nullptr);
    EXPECT_EQ(*value.string(), "velmora");
}

struct MemberCase {
    const char* behaviour;
    const char* key;
    std::optional<JsValue> expected;  // nullopt: no such member
};

const MemberCase kMemberCases[] = {
    {"present member is found", "name", JsValue("notice")}, {"member holding null is present", "nothing", JsValue()},
    {"missing member is absent", "missing", nullopt},       {"keys are case-sensitive", "Name", nullopt},
    {"empty key is a key like any other", "", JsValue(3)},
};

TEST(JsValueMember, LooksUpObjectMembers) {
    const JsValue object(JsValue::Object{{"name", "notice"}, {"nothing", nullptr}, {"", 3}, {"count", 2}});
    for (const auto& c : kMemberCases) {
        SCOPED_TRACE(c.behaviour);
        const JsValue* member = object.member(c.key);
        if (c.expected) {
            ASSERT_NE(member, nullptr);
            EXPECT_EQ(*member, *c.expected);
        } else {
            EXPECT_EQ(member, nullptr);
        }
    }
}

TEST(JsValueMember, ArrayHasNoMembers) {
    const JsValue array(JsValue::Array{"name"});
    EXPECT_EQ(array.member("name"), nullptr);
    EXPECT_EQ(array.member("0"), nullptr);
}

struct JsonCase {
    const char* behaviour;
    JsValue value;
    std::string json;
};

const double kInfinity = std::numeric_limits<double>::infinity();

const JsonCase kJsonCases[] = {
    {"null", JsValue(), "null"},
    {"true", JsValue(true), "true"},
    {"false", JsValue(false), "false"},
    {"integer without a decimal point", JsValue(1), "1"},
    {"negative integer", JsValue(-42), "-42"},
    {"zero", JsValue(0), "0"},
    {"negative zero prints as zero", JsValue(-0.0), "0"},
    {"fraction", JsValue(1.5), "1.5"},
    {"shortest digits that read back", JsValue(0.1), "0.1"},
    {"sum keeps all the digits it needs", JsValue(0.1 + 0.2), "0.30000000000000004"},
    {"large integer in plain digits", JsValue(1e6), "1000000"},
    {"integer up to 1e21 in plain digits", JsValue(1e20), "100000000000000000000"},
    {"1e21 and above in exponent form", JsValue(1e21), "1e+21"},
    {"largest safe integer", JsValue(9007199254740991.0), "9007199254740991"},
    {"small fraction in plain digits", JsValue(0.000001), "0.000001"},
    {"smaller fraction in exponent form", JsValue(1e-7), "1e-7"},
    {"exponent form with several digits", JsValue(-1.25e-9), "-1.25e-9"},
    {"infinity becomes null", JsValue(kInfinity), "null"},
    {"negative infinity becomes null", JsValue(-kInfinity), "null"},
    {"NaN becomes null", JsValue(std::numeric_limits<double>::quiet_NaN()), "null"},
    {"plain string", JsValue("abc"), "\"abc\""},
    {"empty string", JsValue(""), "\"\""},
    {"quote and backslash are escaped", JsValue("a\"b\\c"), R"("a\"b\\c")"},
    {"line break and tab become unicode escapes", JsValue("a\nb\tc"), R"("a\u000ab\u0009c")"},
    {"other control characters become unicode escapes", JsValue("\x01\x1F"), R"("\u0001\u001f")"},
    {"NUL inside a string is escaped", JsValue(std::string("a\0b", 3)), R"("a\u0000b")"},
    {"slash is not escaped", JsValue("a/b"), R"("a/b")"},
    {"non-ASCII UTF-8 goes through", JsValue("caf\xC3\xA9 \xF0\x9F\x94\x94"), "\"caf\xC3\xA9 \xF0\x9F\x94\x94\""},
    {"empty array", JsValue(JsValue::Array{}), "[]"},
    {"array without spaces", JsValue(JsValue::Array{1, "x", nullptr, true}), R"([1,"x",null,true])"},
    {"empty object", JsValue(JsValue::Object{}), "{}"},
    {"object members in key order", JsValue(JsValue::Object{{"b", 2}, {"a", 1}}), R"({"a":1,"b":2})"},
    {"object keys are escaped", JsValue(JsValue::Object{{"a\"\n", 1}}), R"({"a\"\u000a":1})"},
    {"nested values", JsValue(JsValue::Object{{"list", JsValue::Array{JsValue::Object{}, 2.5}}}),
     R"({"list":[{},2.5]})"},
};

TEST(JsValueToJson, WritesCompactJson) {
    for (const auto& c : kJsonCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(c.value.toJson(), c.json);
    }
}

}  // namespace
}  // namespace foundation
