#include "relaunch/relaunch_core.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

namespace relaunch {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// A child that lives until it is killed.
pid_t startLingeringChild() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (;;) {
            ::pause();
        }
    }
    return pid;
}

// The identifier of a process that has ended and been reaped, so nothing answers to it.
pid_t endedProcessId() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(RelaunchWait, GivesUpWhenTheProcessOutlivesTheLimit) {
    const pid_t child = startLingeringChild();
    ASSERT_GT(child, 0);
    const auto start = Clock::now();
    const bool ended = waitForProcessEnd(child, {Seconds(0.3), Seconds(0.05)});
    const Seconds elapsed = Clock::now() - start;
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);

    EXPECT_FALSE(ended);
    EXPECT_GE(elapsed.count(), 0.3);
    EXPECT_LT(elapsed.count(), 2.0);
}

TEST(RelaunchWait, DoesNotPauseForAProcessThatIsAlreadyGone) {
    const pid_t gone = endedProcessId();
    const auto start = Clock::now();
    // A single pause would take ten seconds, so a quick answer proves there was none.
    const bool ended = waitForProcessEnd(gone, {Seconds(60.0), Seconds(10.0)});
    const Seconds elapsed = Clock::now() - start;

    EXPECT_TRUE(ended);
    EXPECT_LT(elapsed.count(), 1.0);
}

TEST(RelaunchWait, EndsWithinAPauseOfTheProcessEnding) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::usleep(400'000);
        ::_exit(0);
    }
    // The test is the child's parent, so it reaps it at once; a zombie would still answer
    // the probe, where a real copy of the application is reaped by its own parent.
    std::thread reaper([child] { ::waitpid(child, nullptr, 0); });
    const auto start = Clock::now();
    const bool ended = waitForProcessEnd(child, {Seconds(10.0), Seconds(0.05)});
    const Seconds elapsed = Clock::now() - start;
    reaper.join();

    EXPECT_TRUE(ended);
    EXPECT_GE(elapsed.count(), 0.35);
    EXPECT_LT(elapsed.count(), 2.0);
}

TEST(RelaunchWait, DefaultsToSixtySecondsLookingEveryFifteenHundredths) {
    const WaitLimits limits;
    EXPECT_DOUBLE_EQ(limits.limit.count(), 60.0);
    EXPECT_DOUBLE_EQ(limits.pause.count(), 0.15);
}

}  // namespace
}  // namespace relaunch
