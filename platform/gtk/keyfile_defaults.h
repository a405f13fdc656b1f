// The user defaults kept in a key file under the user's configuration folder.
#pragma once

#include "platform/user_defaults.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// GLib's own declaration of the type, so that this header needs no GLib header.
using GKeyFile = struct _GKeyFile;  // NOLINT(bugprone-reserved-identifier)

namespace gtk {

// The settings, read once from one key file and written back whole after every change.
// A file that exists but cannot be read as a key file reads as empty and is left untouched.
class KeyFileDefaults : public platform::UserDefaults {
public:
    // Loads the settings from the key file at `path`; a missing file is an empty one.
    explicit KeyFileDefaults(std::string path);
    ~KeyFileDefaults() override;

    KeyFileDefaults(const KeyFileDefaults&) = delete;
    KeyFileDefaults& operator=(const KeyFileDefaults&) = delete;

    // The application's own file: "$XDG_CONFIG_HOME/fr.velmora.universal/defaults.ini".
    static std::string defaultPath();

    // Whether changes are saved; false once the file was found damaged, so it is never replaced.
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
