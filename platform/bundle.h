// The running copy's application bundle.
#pragma once

#include <optional>
#include <string>

namespace platform {

class Bundle {
public:
    virtual ~Bundle() = default;
    // The string value under `key` in the info dictionary read when the program started;
    // nullopt when absent or not a string.
    virtual std::optional<std::string> infoString(const std::string& key) const = 0;
    // The file-system path of the bundle folder ("…/Velmora.app").
    virtual std::string bundlePath() const = 0;
};

}  // namespace platform
