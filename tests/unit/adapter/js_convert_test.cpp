#include "platform/gtk/js_convert.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using foundation::JsValue;

JsValue evaluate(const char* script) {
    JSCContext* context = jsc_context_new();
    JSCValue* value = jsc_context_evaluate(context, script, -1);
    JsValue converted = gtk::toJsValue(value);
    g_object_unref(value);
    g_object_unref(context);
    return converted;
}

TEST(JsConvert, KeepsJavaScriptTypes) {
    const struct {
        const char* script;
        JsValue expected;
    } cases[] = {
        {"true", JsValue(true)},
        {"1", JsValue(1)},
        {"0.5", JsValue(0.5)},
        {"'é'", JsValue("é")},
        {"null", JsValue()},
        {"undefined", JsValue()},
        {"(function(){})", JsValue()},
        {"[1, 'a', false]", JsValue(JsValue::Array{1, "a", false})},
        {"({a: {b: [true]}, n: null})",
         JsValue(JsValue::Object{{"a", JsValue(JsValue::Object{{"b", JsValue(JsValue::Array{true})}})}, {"n", {}}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_EQ(evaluate(c.script), c.expected);
    }
}

TEST(JsConvert, RefusesHostileShapesQuickly) {
    // A huge length with nothing stored, and nesting far past any real answer.
    EXPECT_EQ(evaluate("var a = []; a.length = 2 ** 31 - 1; a"), JsValue());
    EXPECT_EQ(evaluate("var o = {a: {}}; o.a.length = 4294967295; o").member("a")->isObject(), true);
    const JsValue deep = evaluate("var v = 1; for (var i = 0; i < 10000; i++) v = [v]; v");
    EXPECT_TRUE(deep.isArray());
}

}  // namespace
