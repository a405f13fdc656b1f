#include "platform/gtk/updater/update_schedule.h"

#include <algorithm>
#include <cmath>

namespace gtk {

std::int64_t nextCheckDue(std::int64_t now, double random) {
    // NaN compares false with everything; it counts as the middle of the spread.
    const double share = std::isnan(random) ? 0.5 : std::clamp(random, 0.0, 1.0);
    const auto offset = static_cast<std::int64_t>(std::llround(share * 2 * kCheckSpread)) - kCheckSpread;
    return now + kCheckInterval + offset;
}

bool checkIsDue(std::int64_t now, std::int64_t due) { return now >= due || due - now > kCheckInterval + kCheckSpread; }

}  // namespace gtk
