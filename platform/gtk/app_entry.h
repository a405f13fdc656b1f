// The application's desktop entry and icon for the user: what the package installs for every user
// in /usr/share, a copy that was only unpacked writes into the user's data folder, so that the
// desktop names its windows and notifications "Velmóra" with the product's icon.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/app_entry.h"

namespace gtk {

// The entry "<application id>.desktop" in the applications folder of the user's data folder and
// the icon "<application id>" in its hicolor theme, each taken from the bundle's
// Contents/Resources: the entry with Exec and TryExec naming this copy's program, the icon as a
// scalable SVG and as PNGs of 128 and 256 pixels.
class XdgAppEntry final : public platform::AppEntry {
public:
    // The entry of the bundle at `bundlePath` (empty when unknown: nothing can be written) for the
    // application `applicationId`, written under `userDataDirectory`; a package's entry is looked
    // for under each of `systemDataDirectories`.
    XdgAppEntry(std::string bundlePath, std::string applicationId, std::string userDataDirectory,
                std::vector<std::string> systemDataDirectories);

    // The user's data folder, $XDG_DATA_HOME.
    static std::string userDataDirectory();
    // The data folders shared by every user, $XDG_DATA_DIRS.
    static std::vector<std::string> systemDataDirectories();

    // AppEntry overrides:
    platform::AppEntryState state() const override;
    std::optional<std::string> installThisCopy() override;
    std::optional<std::string> removeWritten() override;

private:
    struct IconFile {
        std::string source;       // in the bundle
        std::string destination;  // in the user's icon theme
    };

    std::string entryPath(const std::string& dataDirectory) const;
    std::string themeFolder() const;
    std::string resource(const std::string& name) const;
    std::vector<IconFile> iconFiles() const;
    std::optional<std::string> entryText() const;
    bool inStep() const;

    std::string bundlePath_;
    std::string applicationId_;
    std::string userDataDirectory_;
    std::vector<std::string> systemDataDirectories_;
};

}  // namespace gtk
