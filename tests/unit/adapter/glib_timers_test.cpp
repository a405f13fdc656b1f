#include "platform/gtk/glib_timers.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gtk {
namespace {

gboolean keepWaking(gpointer) { return G_SOURCE_CONTINUE; }

// Runs the default main loop, as the application's loop would, until `done` holds or `limit`
// milliseconds have passed. Waiting for the event rather than for a fixed time keeps the tests
// fast and still right on a busy machine.
void runMainLoopUntil(const std::function<bool()>& done, guint limit = 1000) {
    const gint64 deadline = g_get_monotonic_time() + gint64{limit} * 1000;
    // Wakes the loop up now and then, so that the deadline is seen even when nothing else happens.
    const guint wake = g_timeout_add(5, &keepWaking, nullptr);
    while (!done() && g_get_monotonic_time() < deadline) {
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(wake);
}

// Runs the default main loop for `milliseconds`, to see that nothing more happens.
void runMainLoopFor(guint milliseconds) {
    runMainLoopUntil([] { return false; }, milliseconds);
}

class GLibTimersTest : public testing::Test {
protected:
    // A warning or critical from GLib, such as removing a source twice, fails the test.
    void SetUp() override {
        previousFatal = g_log_set_always_fatal(
            static_cast<GLogLevelFlags>(G_LOG_FATAL_MASK | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL));
    }
    void TearDown() override { g_log_set_always_fatal(previousFatal); }

    GLibTimers timers;
    GLogLevelFlags previousFatal = {};
};

TEST_F(GLibTimersTest, OneShotFiresOnceAndThenIsNoLongerValid) {
    int fired = 0;
    const auto timer = timers.scheduleOneShot(0.02, [&] { ++fired; });
    EXPECT_TRUE(timer->isValid());
    runMainLoopUntil([&] { return fired > 0; });
    runMainLoopFor(50);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(timer->isValid());
    timer->invalidate();  // harmless once fired
}

TEST_F(GLibTimersTest, FiresAfterTheIntervalInSecondsAndInOrder) {
    std::vector<std::string> order;
    const gint64 start = g_get_monotonic_time();
    gint64 firstAfter = 0;
    const auto later = timers.scheduleOneShot(0.06, [&] { order.push_back("plus tard"); });
    const auto sooner = timers.scheduleOneShot(0.03, [&] {
        order.push_back("plus tôt");
        firstAfter = g_get_monotonic_time() - start;
    });
    runMainLoopUntil([&] { return order.size() == 2; });
    EXPECT_EQ(order, (std::vector<std::string>{"plus tôt", "plus tard"}));
    EXPECT_GE(firstAfter, 29'000);
}

TEST_F(GLibTimersTest, RepeatingTimerFiresUntilInvalidatedFromItsOwnCallback) {
    int fired = 0;
    std::shared_ptr<platform::Timer> timer;
    timer = timers.scheduleRepeating(0.02, [&] {
        EXPECT_TRUE(timer->isValid());
        if (++fired == 3) {
            timer->invalidate();
        }
    });
    runMainLoopUntil([&] { return fired >= 3; });
    runMainLoopFor(60);
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
    runMainLoopFor(60);
    EXPECT_EQ(fired, 0);
    EXPECT_FALSE(oneShot->isValid());
    EXPECT_FALSE(repeating->isValid());
}

TEST_F(GLibTimersTest, TimerLetGoByItsHolderStillFires) {
    int fired = 0;
    timers.scheduleOneShot(0.02, [&] { ++fired; });
    runMainLoopUntil([&] { return fired > 0; });
    EXPECT_EQ(fired, 1);
}

TEST_F(GLibTimersTest, CallbackMayDropTheLastOutsideReferenceWhileInvalidating) {
    int fired = 0;
    auto timer = std::make_shared<std::shared_ptr<platform::Timer>>();
    *timer = timers.scheduleRepeating(0.01, [&fired, timer] {
        ++fired;
        (*timer)->invalidate();
        timer->reset();
    });
    runMainLoopUntil([&] { return fired > 0; });
    runMainLoopFor(30);
    EXPECT_EQ(fired, 1);
}

TEST_F(GLibTimersTest, EndedTimerReleasesWhatItsCallbackHolds) {
    const auto owned = std::make_shared<int>(0);
    const auto repeating = timers.scheduleRepeating(1000, [owned] {});
    const auto oneShot = timers.scheduleOneShot(0.01, [owned] {});
    repeating->invalidate();
    runMainLoopUntil([&] { return !oneShot->isValid(); });
    runMainLoopFor(10);
    // Both timers are still held here; only their callbacks are gone.
    EXPECT_EQ(owned.use_count(), 1);
}

TEST(SystemClock, TellsTheWallClockTime) {
    const double now = SystemClock().now();
    EXPECT_NEAR(now, static_cast<double>(std::time(nullptr)), 2.0);
}

}  // namespace
}  // namespace gtk
