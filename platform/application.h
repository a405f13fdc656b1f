// The application object: activation, termination, the main menu and the launch event.
#pragma once

#include <memory>
#include <string>

#include "platform/menu.h"

namespace platform {

enum class ActivationPolicy {
    Regular,    // the window may be shown and the application is in the task bar
    Accessory,  // no window shown; the application lives on in the background
};

enum class TerminateReply { Cancel = 0, Now = 1 };

// The application's delegate; every call arrives on the main loop.
class ApplicationDelegate {
public:
    virtual ~ApplicationDelegate() = default;
    // The application has started and is about to finish launching.
    virtual void applicationWillFinishLaunching() = 0;
    // The application has finished launching; the delegate builds its state here.
    virtual void applicationDidFinishLaunching() = 0;
    // The user opened the application again while it runs; returns whether it was handled.
    virtual bool applicationShouldHandleReopen(bool hasVisibleWindows) = 0;
    // A termination was asked for (quit item, quit request, terminate()); Now ends the process.
    virtual TerminateReply applicationShouldTerminate() = 0;
    // The last window was closed; returns whether the process should end.
    virtual bool applicationShouldTerminateAfterLastWindowClosed() = 0;
    // A quit request from outside: `hasQuitReason` is true for the system's log out, restart
    // or shut down, false for an ordinary request such as a script's quit.
    virtual void handleQuitEvent(bool hasQuitReason) = 0;
};

// A token that keeps the process running in the background until it is destroyed.
class ActivityToken {
public:
    virtual ~ActivityToken() = default;
};

class Application {
public:
    virtual ~Application() = default;
    // Installs the delegate; the application holds it weakly.
    virtual void setDelegate(ApplicationDelegate* delegate) = 0;
    // Switches between a regular application and a background one without window.
    virtual void setActivationPolicy(ActivationPolicy policy) = 0;
    // Brings the application to the front, ahead of other applications.
    virtual void activateIgnoringOtherApps() = 0;
    // Asks the delegate whether to terminate and ends the process when it answers Now.
    virtual void terminate() = 0;
    // Whether the launch being handled now was started by the session as a login item.
    virtual bool currentLaunchIsLoginItem() = 0;
    // Routes every quit request from outside the application to the delegate's handleQuitEvent.
    virtual void installQuitEventHandler() = 0;
    // Begins an activity that keeps the process from being suspended while in the background.
    virtual std::unique_ptr<ActivityToken> beginBackgroundActivity(const std::string& reason) = 0;
    // Creates an empty main menu, to be filled and then installed with setMainMenu.
    virtual std::unique_ptr<Menu> makeMainMenu() = 0;
    // Installs the menu as the application's main menu (shown in the window, exported).
    virtual void setMainMenu(std::unique_ptr<Menu> menu) = 0;
};

}  // namespace platform
