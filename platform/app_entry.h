// The application's entry in the desktop's list of applications, from which the desktop takes
// the name and icon of its windows and notifications.
#pragma once

#include <optional>
#include <string>

namespace platform {

enum class AppEntryState {
    // No entry of the application, neither for the user nor for every user.
    Missing,
    // The entry and icons for the user exactly as this copy would write them now.
    ThisCopy,
    // The user's entry written by a copy of the application that is elsewhere or of another
    // build, or its icons are missing or differ.
    OutOfStep,
    // An entry in the user's folder that the application did not write.
    UsersOwn,
    // The entry of an installed package, for every user, with no entry of the user's over it.
    System,
    // An entry that a copy of the application wrote for the user, hiding a package's entry.
    WrittenOverSystem,
};

class AppEntry {
public:
    virtual ~AppEntry() = default;
    // The state of the application's entries, read afresh.
    virtual AppEntryState state() const = 0;
    // Writes this copy's entry and icons for the user over any earlier ones; nullopt on success,
    // the error's text otherwise.
    virtual std::optional<std::string> installThisCopy() = 0;
    // Removes the entry and icons that a copy of the application wrote for the user, if any;
    // nullopt on success, the error's text otherwise.
    virtual std::optional<std::string> removeWritten() = 0;
};

}  // namespace platform
