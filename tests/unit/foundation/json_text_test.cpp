#include "platform/foundation/json_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

namespace {

using foundation::JsValue;
using foundation::parseJsonText;

struct Reading {
    const char* text;
    JsValue expected;
};

// The readings that differ between JSON libraries, as JSON.parse gives them.
TEST(JsonText, ReadsAsJavaScriptDoes) {
    const double infinity = std::numeric_limits<double>::infinity();
    const Reading readings[] = {
        {"1.5", 1.5},
        {" [ -2e3 , 0.25 ] ", JsValue::Array{-2000.0, 0.25}},
        {"12345678901234567890123", 12345678901234567890123.0},  // past 64 bits: no wrap-around
        {"1e400", infinity},
        {"-1e400", -infinity},
        {"1e-400", 0.0},
        {"true", true},
        {"null", JsValue()},
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        {R"("\ud800x")", "\xEF\xBF\xBDx"},  // a lone surrogate is U+FFFD, the rest is kept
        {R"("a\u0000b")", std::string("a\0b", 3)},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"({"a":1,"a":2})", JsValue::Object{{"a", 2.0}}},
    };
    for (const auto& [text, expected] : readings) {
        SCOPED_TRACE(text);
        const auto value = parseJsonText(text);
        ASSERT_TRUE(value);
        EXPECT_EQ(*value, expected);
    }
}

TEST(JsonText, RefusesWhatIsNotJson) {
    for (const char* text :
         {"",     " ",   "01",   "+1",       ".5",    "1.",    "1e",  "-",       "inf",       "NaN",           "0x10",
          "tru",  "nul", "[1,]", "{\"a\":}", "{a:1}", "[1] x", "\"a", "\"\\x\"", "\"\\u12\"", "\"tab\there\"", "'a'",
          "[1 2]"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(parseJsonText(text));
    }
}

// A French locale writes "1,5": the reading must not depend on the locale GTK sets up.
TEST(JsonText, ReadsTheDecimalPointInAFrenchLocale) {
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) GTEST_SKIP() << "no French locale on this machine";
    const auto value = parseJsonText("2.75");
    std::setlocale(LC_NUMERIC, previous.c_str());
    ASSERT_TRUE(value);
    EXPECT_EQ(*value, JsValue(2.75));
}

std::string nested(int depth) { return std::string(depth, '[') + "1" + std::string(depth, ']'); }

// Deep values are cut to null below the value depth; far deeper text is refused before the
// parser's own recursion could exhaust the stack.
TEST(JsonText, BoundsNesting) {
    const auto shallow = parseJsonText(nested(foundation::kMaxJsonValueDepth));
    ASSERT_TRUE(shallow);
    EXPECT_NE(shallow->toJson().find('1'), std::string::npos);
    const auto cut = parseJsonText(nested(foundation::kMaxJsonValueDepth + 1));
    ASSERT_TRUE(cut);
    EXPECT_EQ(cut->toJson().find('1'), std::string::npos);
    EXPECT_FALSE(parseJsonText(nested(100000)));
}

}  // namespace
