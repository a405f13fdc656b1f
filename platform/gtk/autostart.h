// Login items as XDG autostart entries: at login the session starts every program that a desktop
// entry in the user's autostart folder describes.
#pragma once

#include <glib.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/login_items.h"

namespace gtk {

// One argument as a desktop entry's Exec key must carry it, before the key file's own escaping of
// string values: an argument with a reserved character (or an empty one) is put in double quotes
// with `"`, `` ` ``, `$` and `\` escaped by a backslash, and every `%` is doubled.
std::string quoteExecArgument(std::string_view argument);

// The arguments quoted one by one and joined by single spaces.
std::string execCommandLine(const std::vector<std::string>& arguments);

// The text of the desktop entry `entry` with `comment` at its head, which tells the user who wrote
// the file and why.
std::string entryTextWithComment(GKeyFile* entry, const char* comment);

// The login-start agent and the application's own login item as entries of one autostart folder.
//
// The agent's entry is named after its property list ("x.plist" gives "x.desktop") and starts the
// program that the list's ProgramArguments name, resolved against the bundle when relative. The
// application's own entry is "<bundle identifier>.desktop"; it belongs to an older arrangement and
// is only read and removed, never written.
class XdgLoginItems final : public platform::LoginItems {
public:
    // Entries for the bundle at `bundlePath` (empty when unknown: the agent is then not found),
    // kept in `autostartDirectory`; `bundleIdentifier` names the application's own entry.
    XdgLoginItems(std::string bundlePath, std::string bundleIdentifier, std::string autostartDirectory);

    // The user's autostart folder, $XDG_CONFIG_HOME/autostart.
    static std::string userAutostartDirectory();

    // LoginItems overrides:
    std::unique_ptr<platform::LoginService> agentService(const std::string& plistName) override;
    std::unique_ptr<platform::LoginService> mainAppService() override;
    // The desktop asks nobody to approve autostart entries, so there is nothing to open.
    void openSystemSettingsLoginItems() override;

private:
    std::string bundlePath_;
    std::string bundleIdentifier_;
    std::string autostartDirectory_;
};

}  // namespace gtk
