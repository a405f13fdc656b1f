// Starting programs at login.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace platform {

enum class LoginServiceStatus {
    NotRegistered = 0,
    Enabled = 1,
    RequiresApproval = 2,
    NotFound = 3,
    // An entry of ours that starts a program that is no longer there (its copy moved or was deleted).
    StartsMissingProgram = 4,
};

// One program the session may start at login.
class LoginService {
public:
    virtual ~LoginService() = default;
    // The current registration state, read afresh.
    virtual LoginServiceStatus status() const = 0;
    // Registers the program for login; nullopt on success, the error's text otherwise.
    virtual std::optional<std::string> registerService() = 0;
    // Removes the program from login; nullopt on success, the error's text otherwise.
    virtual std::optional<std::string> unregisterService() = 0;
};

class LoginItems {
public:
    virtual ~LoginItems() = default;
    // The login-start agent described by the bundle's launch agent property list `plistName`.
    virtual std::unique_ptr<LoginService> agentService(const std::string& plistName) = 0;
    // The application itself as a login item.
    virtual std::unique_ptr<LoginService> mainAppService() = 0;
    // Opens the desktop's settings where the user approves login items.
    virtual void openSystemSettingsLoginItems() = 0;
};

}  // namespace platform
