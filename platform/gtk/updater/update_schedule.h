// When the updater checks in the background by itself: about once a day, for a process that
// runs for weeks. Times are seconds on the wall clock, which goes on while the computer sleeps,
// unlike the monotonic clock of GLib's timeouts: a tick every hour compares it with the time
// the next check is due, so that a check missed during a sleep comes soon after waking.
#pragma once

#include <cstdint>

namespace gtk {

// How often the schedule is looked at, in seconds of the monotonic clock.
inline constexpr unsigned kScheduleTickSeconds = 60 * 60;
// The time between two checks, on average, and how far it strays either way at random, so
// that the copies started together each morning do not all ask the server at the same moment.
inline constexpr std::int64_t kCheckInterval = std::int64_t{24} * 60 * 60;
inline constexpr std::int64_t kCheckSpread = std::int64_t{2} * 60 * 60;

// The time the check after one made at `now` is due; `random` in [0, 1] picks where in the
// spread it falls.
std::int64_t nextCheckDue(std::int64_t now, double random);

// Whether a tick at `now` starts the check due at `due`: once that time has come, and also when
// it lies further ahead than any check is ever put, because the clock was set back since.
bool checkIsDue(std::int64_t now, std::int64_t due);

}  // namespace gtk
