// Timers on the main loop, and the clock.
#pragma once

#include <functional>
#include <memory>

namespace platform {

// A scheduled timer; the scheduler and the holder of this object both keep it.
class Timer {
public:
    virtual ~Timer() = default;
    // Stops the timer for good; it never fires again. Invalidating twice is harmless.
    virtual void invalidate() = 0;
    // Whether the timer may still fire (not invalidated, and a one-shot not yet fired).
    virtual bool isValid() const = 0;
};

class Timers {
public:
    virtual ~Timers() = default;
    // Schedules `fire` on the main loop every `seconds`, the first time one interval from now,
    // until the returned timer is invalidated.
    virtual std::shared_ptr<Timer> scheduleRepeating(double seconds, std::function<void()> fire) = 0;
    // Schedules `fire` once on the main loop `seconds` from now, unless invalidated before.
    virtual std::shared_ptr<Timer> scheduleOneShot(double seconds, std::function<void()> fire) = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // The current wall-clock time in seconds since the Unix epoch.
    virtual double now() const = 0;
};

}  // namespace platform
