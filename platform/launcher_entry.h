// The application's icon in the desktop's docks and task bars.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

class LauncherEntry {
public:
    virtual ~LauncherEntry() = default;
    // Shows `count` as a badge on the application's icon in the docks and task bars that draw
    // one, those that start later included; nullopt hides the badge.
    virtual void setBadge(std::optional<std::int64_t> count) = 0;
};

}  // namespace platform
