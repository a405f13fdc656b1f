// The application's persistent settings.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// Values by key, kept across runs. A value of another type than asked for reads as absent.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    // The array of strings stored under `key`, or nullopt.
    virtual std::optional<std::vector<std::string>> stringArray(const std::string& key) const = 0;
    // The string stored under `key`, or nullopt.
    virtual std::optional<std::string> string(const std::string& key) const = 0;
    // The Boolean stored under `key`; false when absent.
    virtual bool boolean(const std::string& key) const = 0;
    // Stores `value` under `key`, replacing what was there, and saves it.
    virtual void setStringArray(const std::string& key, const std::vector<std::string>& value) = 0;
    // Stores `value` under `key`, replacing what was there, and saves it.
    virtual void setString(const std::string& key, const std::string& value) = 0;
    // Stores `value` under `key`, replacing what was there, and saves it.
    virtual void setBoolean(const std::string& key, bool value) = 0;
};

}  // namespace platform
