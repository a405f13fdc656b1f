// Opening an application bundle the way both companion programs do it: by starting the
// program its Info.plist names, detached from the caller.
#pragma once

#include "platform/foundation/property_list.h"

#include <optional>
#include <string>
#include <vector>

namespace companion {

// Whether the started application may take the focus.
enum class Activation {
    activated,  // the environment is passed on unchanged
    hidden,     // startup-notification and activation tokens are withheld from the new process
};

// Reads `bundlePath`/Contents/Info.plist; nullopt when the file is missing, unreadable or does
// not hold a dictionary.
std::optional<foundation::PropertyListDictionary> readInfoDictionary(const std::string& bundlePath);

// Starts `bundlePath`/Contents/MacOS/<CFBundleExecutable of `info`> with `arguments`, in a new
// session with the standard streams on /dev/null, without waiting for it; false when the
// executable is not named, names something outside Contents/MacOS, or could not be started.
bool startBundleExecutable(const std::string& bundlePath, const foundation::PropertyListDictionary& info,
                           const std::vector<std::string>& arguments, Activation activation);

// Starts the program as startBundleExecutable does, but as a child of the caller, who must reap
// it (waitpid) and may so learn how it ended; its process identifier, or nullopt as above.
std::optional<int> startBundleExecutableAsChild(const std::string& bundlePath,
                                                const foundation::PropertyListDictionary& info,
                                                const std::vector<std::string>& arguments, Activation activation);

}  // namespace companion
