// The user defaults kept in a key file under the user's configuration folder.
#pragma once

#include "platform/system.h"
#include "platform/user_defaults.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// GLib's own declaration of the type, so that this header needs no GLib header.
using GKeyFile = struct _GKeyFile;  // NOLINT(bugprone-reserved-identifier)

namespace gtk {

// The settings, read once from one key file and written back whole after every change.
// A file that exists but cannot be read as a key file is moved aside, kept for the user, and the
// settings start empty.
class KeyFileDefaults : public platform::UserDefaults {
public:
    // Loads the settings from the key file at `path`; a missing file is an empty one. A damaged
    // file is renamed to "<path>.illisible-<local date and time>" (with "-2", "-3", ... when that
    // name is taken), and `log` gets one line naming the kept copy; when it cannot be renamed,
    // it is left in place and no change is ever saved.
    KeyFileDefaults(std::string path, platform::Log& log);
    ~KeyFileDefaults() override;

    KeyFileDefaults(const KeyFileDefaults&) = delete;
    KeyFileDefaults& operator=(const KeyFileDefaults&) = delete;

    // The application's own file: "$XDG_CONFIG_HOME/fr.velmora.universal/defaults.ini".
    static std::string defaultPath();

    // Whether changes are saved; false when a damaged file could not be moved aside, so that it
    // is never replaced.
    bool savesChanges() const { return saves; }

    // The array of strings stored under `key`, or nullopt.
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const override;
    // The string stored under `key`, or nullopt.
    std::optional<std::string> string(const std::string& key) const override;
    // The Boolean stored under `key`; false when absent.
    bool boolean(const std::string& key) const override;
    // Stores `value` under `key`, replacing what was there, and saves it.
    void setStringArray(const std::string& key, const std::vector<std::string>& value) override;
    // Stores `value` under `key`, replacing what was there, and saves it.
    void setString(const std::string& key, const std::string& value) override;
    // Stores `value` under `key`, replacing what was there, and saves it.
    void setBoolean(const std::string& key, bool value) override;

private:
    struct KeyFileDeleter {
        void operator()(GKeyFile* keyFile) const;
    };

    void removeEveryType(const std::string& key);
    void save() const;

    std::string path;
    std::unique_ptr<GKeyFile, KeyFileDeleter> keyFile;
    bool saves = true;
};

}  // namespace gtk
