// The adapter's system services: files, detached processes, the system log, the main loop's
// timers, and values taken from the page's JavaScript.
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbus_fakes.h"
#include "platform/gtk/glib_timers.h"
#include "platform/gtk/js_convert.h"
#include "platform/gtk/system_services.h"
#include "temp_folder.h"

namespace gtk {
namespace {

namespace fs = std::filesystem;
using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;
using velmora_test::runMainLoopUntil;
using namespace std::string_literals;

TEST(LocalFiles, ReadsWholeRegularFilesAndTellsExecutableOnes) {
    TempFolder folder;
    const std::string binary = "\x00\x01\xff\n\r\x00"s + std::string(100'000, 'v');
    writeFile(folder / "binaire", binary);
    writeFile(folder / "vide", "");
    fs::create_directory(folder / "dossier");
    writeFile(folder / "programme", "#!/bin/sh\n");
    fs::permissions(folder / "programme", fs::perms(0755));
    fs::permissions(folder / "binaire", fs::perms(0644));
    fs::create_symlink(folder / "programme", folder / "lien");
    fs::create_symlink(folder / "absent", folder / "lien-casse");
    const LocalFiles files;

    EXPECT_EQ(files.read(folder / "binaire"), std::vector<std::uint8_t>(binary.begin(), binary.end()));
    EXPECT_EQ(files.read(folder / "vide"), std::vector<std::uint8_t>{}) << "empty content, not a failure";
    EXPECT_EQ(files.read(folder / "absent"), std::nullopt);
    EXPECT_EQ(files.read(folder / "dossier"), std::nullopt);

    EXPECT_TRUE(files.isExecutableFile(folder / "programme"));
    EXPECT_TRUE(files.isExecutableFile(folder / "lien"));
    for (const std::string& other : {folder / "binaire", folder / "dossier", folder / "lien-casse", std::string()})
        EXPECT_FALSE(files.isExecutableFile(other)) << other;
}

TEST(DetachedProcesses, TheProgramGetsItsArgumentsUnchangedInASessionOfItsOwnAndIsNeverOurChild) {
    TempFolder folder;
    const std::string script =
        "printf '%s|' \"$@\" > \"$0.tmp\"; cut -d' ' -f6 /proc/$$/stat >> \"$0.tmp\"; mv \"$0.tmp\" \"$0\"";
    ASSERT_EQ(DetachedProcesses().launch("/bin/sh", {"-c", script, folder / "sortie", "a b", "c;d", "", "é*", "$HOME"}),
              std::nullopt);
    // Not a child at all, so it can never linger as a zombie of this process.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    ASSERT_TRUE(runMainLoopUntil([&folder] { return fs::exists(folder / "sortie"); }, 2000));
    const std::string output = readFile(folder / "sortie");
    const std::string arguments = "a b|c;d||é*|$HOME|";
    ASSERT_EQ(output.substr(0, arguments.size()), arguments);
    // The sixth field of /proc/<pid>/stat is the session the program runs in.
    EXPECT_NE(std::stol(output.substr(arguments.size())), static_cast<long>(getsid(0))) << output;
}

TEST(DetachedProcesses, FailureToStartGivesTheSystemsErrorText) {
    TempFolder folder;
    writeFile(folder / "texte", "#!/bin/sh\n");
    fs::permissions(folder / "texte", fs::perms(0644));
    for (const std::string& executable : {folder / "absent", folder / "texte", folder.path}) {
        const auto error = DetachedProcesses().launch(executable, {"--argument"});
        ASSERT_TRUE(error.has_value()) << executable;
        EXPECT_NE(error->find(executable), std::string::npos) << *error;
    }
}

TEST(SystemLog, WritesLinesThatLookLikeFormats) {
    // A line used as a format would read arguments that were never passed, or write through %n.
    SystemLog().write("100 % sûr : %s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s %n %x %%");
    SystemLog().write("");
}

class GLibTimersTest : public testing::Test {
protected:
    // A warning or critical from GLib, such as removing a source twice, fails the test.
    void SetUp() override {
        previousFatal = g_log_set_always_fatal(
            static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
    }
    void TearDown() override { g_log_set_always_fatal(previousFatal); }
    // Runs the loop for `milliseconds`, to see that nothing more happens.
    static void runFor(unsigned milliseconds) {
        runMainLoopUntil([] { return false; }, milliseconds);
    }

    GLibTimers timers;
    GLogLevelFlags previousFatal = {};
};

TEST_F(GLibTimersTest, OneShotsFireOnceInOrderAfterTheirIntervalEvenWhenNotHeld) {
    std::vector<std::string> order;
    const gint64 start = g_get_monotonic_time();
    gint64 firstAfter = 0;
    timers.scheduleOneShot(0.06, [&] { order.push_back("plus tard"); });  // let go by its holder
    const auto sooner = timers.scheduleOneShot(0.03, [&] {
        order.push_back("plus tôt");
        firstAfter = g_get_monotonic_time() - start;
    });
    EXPECT_TRUE(sooner->isValid());
    ASSERT_TRUE(runMainLoopUntil([&] { return order.size() == 2; }));
    runFor(50);
    EXPECT_EQ(order, (std::vector<std::string>{"plus tôt", "plus tard"}));
    EXPECT_GE(firstAfter, 29'000);
    EXPECT_FALSE(sooner->isValid());
    sooner->invalidate();  // harmless once fired
}

TEST_F(GLibTimersTest, ARepeatingTimerFiresUntilInvalidatedFromItsOwnCallback) {
    int fired = 0;
    std::shared_ptr<platform::Timer> timer;
    timer = timers.scheduleRepeating(0.02, [&] {
        EXPECT_TRUE(timer->isValid());
        if (++fired == 3) timer->invalidate();
    });
    runMainLoopUntil([&] { return fired >= 3; });
    runFor(60);
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(timer->isValid());
}

TEST_F(GLibTimersTest, InvalidatedBeforeItsTimeNeverFires) {
    int fired = 0;
    const auto oneShot = timers.scheduleOneShot(0.02, [&] { ++fired; });
    const auto repeating = timers.scheduleRepeating(0.02, [&] { ++fired; });
    oneShot->invalidate();
    repeating->invalidate();
    repeating->invalidate();  // twice is harmless
    runFor(60);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(oneShot->isValid());
    EXPECT_FALSE(repeating->isValid());
}

TEST_F(GLibTimersTest, ACallbackMayDropTheLastReferenceWhileInvalidating) {
    int fired = 0;
    auto timer = std::make_shared<std::shared_ptr<platform::Timer>>();
    *timer = timers.scheduleRepeating(0.01, [&fired, timer] {
        ++fired;
        (*timer)->invalidate();
        timer->reset();
    });
    runMainLoopUntil([&] { return fired > 0; });
    runFor(30);
    EXPECT_EQ(fired, 1);
}

TEST_F(GLibTimersTest, AnEndedTimerReleasesWhatItsCallbackHolds) {
    const auto owned = std::make_shared<int>(0);
    const auto repeating = timers.scheduleRepeating(1000, [owned] {});
    const auto oneShot = timers.scheduleOneShot(0.01, [owned] {});
    repeating->invalidate();
    runMainLoopUntil([&] { return !oneShot->isValid(); });
    runFor(10);
    EXPECT_EQ(owned.use_count(), 1) << "both timers are still held; only their callbacks are gone";
}

foundation::JsValue evaluate(const char* script) {
    JSCContext* context = jsc_context_new();
    JSCValue* value = jsc_context_evaluate(context, script, -1);
    foundation::JsValue converted = toJsValue(value);
    g_object_unref(value);
    g_object_unref(context);
    return converted;
}

TEST(JsConvert, KeepsJavaScriptTypesAndRefusesHostileShapesQuickly) {
    using foundation::JsValue;
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
        // A huge length with nothing stored.
        {"var a = []; a.length = 2 ** 31 - 1; a", JsValue()},
    };
    for (const auto& c : cases) EXPECT_EQ(evaluate(c.script), c.expected) << c.script;
    EXPECT_TRUE(evaluate("var o = {a: {}}; o.a.length = 4294967295; o").member("a")->isObject());
    // Nesting far past any real answer.
    EXPECT_TRUE(evaluate("var v = 1; for (var i = 0; i < 10000; i++) v = [v]; v").isArray());
}

}  // namespace
}  // namespace gtk
