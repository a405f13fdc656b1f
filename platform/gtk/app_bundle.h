// The application bundle a program runs from, found on disk.
#pragma once

#include "platform/bundle.h"
#include "platform/foundation/property_list.h"

#include <memory>
#include <optional>
#include <string>

namespace gtk {

// A bundle folder ("…/Velmora.app") and the info dictionary read from its Contents/Info.plist
// once, when the object is made.
class AppBundle : public platform::Bundle {
public:
    // Reads the bundle at `bundlePath`; a missing or unreadable Info.plist gives an empty dictionary.
    explicit AppBundle(std::string bundlePath);

    // The bundle of the running executable, or nullptr when the system cannot tell where it is.
    static std::unique_ptr<AppBundle> fromRunningExecutable();

    // The bundle folder of the executable at `executablePath` (…/X.app/Contents/MacOS/exe).
    static std::string bundlePathOfExecutable(const std::string& executablePath);

    // The string value under `key` in the info dictionary; nullopt when absent or not a string.
    std::optional<std::string> infoString(const std::string& key) const override;
    // The file-system path of the bundle folder.
    std::string bundlePath() const override { return path; }

    // The path of the resource `name` in the bundle's Contents/Resources.
    std::string resourcePath(const std::string& name) const;
    // The path of the program `name` in the bundle's Contents/MacOS.
    std::string executablePath(const std::string& name) const;

private:
    std::string path;
    foundation::PropertyListDictionary info;
};

}  // namespace gtk
