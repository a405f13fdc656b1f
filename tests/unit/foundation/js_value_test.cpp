#include "platform/foundation/js_value.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

namespace foundation {
namespace {

TEST(JsValue, AccessorsGiveAValueOnlyForTheMatchingType) {
    const struct {
        JsValue value;
        std::string type;
    } cases[] = {
        {JsValue(), "null"},
        {JsValue(false), "boolean"},
        {JsValue(0.0), "number"},
        {JsValue(""), "string"},
        {JsValue("1"), "string"},
        {JsValue(JsValue::Array{}), "array"},
        {JsValue(JsValue::Object{}), "object"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.toJson());
        EXPECT_EQ(c.value.isNull(), c.type == "null");
        EXPECT_EQ(c.value.boolean().has_value(), c.type == "boolean");
        EXPECT_EQ(c.value.number().has_value(), c.type == "number");
        EXPECT_EQ(c.value.string() != nullptr, c.type == "string");
        EXPECT_EQ(c.value.array() != nullptr, c.type == "array");
        EXPECT_EQ(c.value.object() != nullptr, c.type == "object");
        EXPECT_EQ(c.value.member("a"), nullptr);
    }
    EXPECT_EQ(JsValue(true).boolean(), true);
    EXPECT_EQ(JsValue(false).boolean(), false);
    EXPECT_EQ(JsValue(1).number(), 1.0);
    EXPECT_EQ(*JsValue("velmora").string(), "velmora");
}

TEST(JsValue, MemberLooksUpObjectKeysExactly) {
    const JsValue object(JsValue::Object{{"name", "notice"}, {"nothing", nullptr}, {"", 3}, {"count", 2}});
    EXPECT_EQ(*object.member("name"), JsValue("notice"));
    EXPECT_EQ(*object.member("nothing"), JsValue());  // present, holding null
    EXPECT_EQ(*object.member(""), JsValue(3));
    EXPECT_EQ(object.member("missing"), nullptr);
    EXPECT_EQ(object.member("Name"), nullptr);
    EXPECT_EQ(JsValue(JsValue::Array{"name"}).member("0"), nullptr);
}

TEST(JsValue, ToJsonWritesNumbersAsJavaScriptWould) {
    // Integers and the shortest digits that read back; plain digits from 1e-6 up to 1e21; null when not finite.
    const double infinity = std::numeric_limits<double>::infinity(), nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double number;
        const char* json;
    } cases[] = {{-42, "-42"},
                 {0, "0"},
                 {-0.0, "0"},
                 {1.5, "1.5"},
                 {0.1, "0.1"},
                 {0.1 + 0.2, "0.30000000000000004"},
                 {1e20, "100000000000000000000"},
                 {1e21, "1e+21"},
                 {0.000001, "0.000001"},
                 {-1.25e-7, "-1.25e-7"},
                 {infinity, "null"},
                 {-infinity, "null"},
                 {nan, "null"}};
    for (const auto& c : cases) EXPECT_EQ(JsValue(c.number).toJson(), c.json) << c.json;
    EXPECT_EQ(JsValue(7).toJson(), "7");
}

TEST(JsValue, ToJsonWritesCompactJsonWithEscapedControlCharacters) {
    const struct {
        JsValue value;
        std::string json;
    } cases[] = {
        {JsValue(), "null"},
        {JsValue(true), "true"},
        {JsValue(false), "false"},
        {JsValue(""), R"("")"},
        {JsValue("a\"b\\c/d"), R"("a\"b\\c/d")"},
        {JsValue("a\nb\tc\x01\x1F"), R"("a\u000ab\u0009c\u0001\u001f")"},
        {JsValue(std::string("a\0b", 3)), R"("a\u0000b")"},
        {JsValue("caf\xC3\xA9 \xF0\x9F\x94\x94"), "\"caf\xC3\xA9 \xF0\x9F\x94\x94\""},
        {JsValue(JsValue::Array{}), "[]"},
        {JsValue(JsValue::Array{1, "x", nullptr, true}), R"([1,"x",null,true])"},
        {JsValue(JsValue::Object{}), "{}"},
        {JsValue(JsValue::Object{{"b", 2}, {"a\"\n", 1}}), R"({"a\"\u000a":1,"b":2})"},
        {JsValue(JsValue::Object{{"list", JsValue::Array{JsValue::Object{}, 2.5}}}), R"({"list":[{},2.5]})"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value.toJson(), c.json);
}

}  // namespace
}  // namespace foundation
