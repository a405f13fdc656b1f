// Timers on the GLib main loop, and the wall clock.
#pragma once

#include "platform/timers.h"

#include <functional>
#include <memory>

namespace gtk {

// Timers run by timeout sources on the default main context. A scheduled timer stays scheduled
// when its holder lets go of it; only invalidating it, or a one-shot firing, ends it.
class GLibTimers : public platform::Timers {
public:
    // Schedules `fire` every `seconds` (rounded to milliseconds), the first time one interval
    // from now, until the returned timer is invalidated.
    std::shared_ptr<platform::Timer> scheduleRepeating(double seconds, std::function<void()> fire) override;
    // Schedules `fire` once, `seconds` (rounded to milliseconds) from now, unless invalidated before.
    std::shared_ptr<platform::Timer> scheduleOneShot(double seconds, std::function<void()> fire) override;
};

// The system's wall clock.
class SystemClock : public platform::Clock {
public:
    // The current wall-clock time in seconds since the Unix epoch, to the microsecond.
    double now() const override;
};

}  // namespace gtk
