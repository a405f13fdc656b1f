// The updater that finds, installs and relaunches newer builds.
#pragma once

#include <memory>

namespace platform {

// Calls the updater makes while it works; on the main loop.
class UpdaterDelegate {
public:
    virtual ~UpdaterDelegate() = default;
    // The updater is about to replace the bundle with a newer build.
    virtual void updaterWillInstallUpdate() = 0;
    // The updater is about to end the process and start the new build.
    virtual void updaterWillRelaunchApplication() = 0;
    // An installation announced by `updaterWillInstallUpdate` failed or was given up, and the
    // running build stays in its place and keeps running.
    virtual void updaterDidAbortInstall() = 0;
};

class Updater {
public:
    virtual ~Updater() = default;
    // Whether the updater checks for updates by itself.
    virtual bool automaticallyChecksForUpdates() const = 0;
    // Starts a check that shows nothing unless an update is found.
    virtual void checkForUpdatesInBackground() = 0;
    // Starts a check asked for by the user, with the updater's own dialogs.
    virtual void checkForUpdates() = 0;
};

class UpdaterFactory {
public:
    virtual ~UpdaterFactory() = default;
    // Creates and starts the updater, reporting to `delegate` (which outlives it).
    virtual std::unique_ptr<Updater> makeUpdater(UpdaterDelegate& delegate) = 0;
};

}  // namespace platform
