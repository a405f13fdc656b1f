// One running instance per user, also where the session bus cannot tell instances apart.
#pragma once

#include <string>

namespace gtk {

// An advisory lock (flock) on a file in the user's runtime folder, held by the running instance
// for the life of its process. GApplication keeps an application unique through its name on the
// session bus; without a session bus every launch would become a primary instance of its own,
// with two processes sharing one web data store and one defaults file.
class InstanceLock {
public:
    // A lock on the file at `path`; nothing is taken yet.
    explicit InstanceLock(std::string path);
    // Releases the lock if this object holds it.
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;
    InstanceLock(InstanceLock&&) = delete;
    InstanceLock& operator=(InstanceLock&&) = delete;

    // $XDG_RUNTIME_DIR/<applicationId>.lock (GLib's fallback folder when the variable is unset).
    static std::string defaultPath(const std::string& applicationId);

    // Takes the lock without waiting; false only when another process holds it. When the file
    // cannot be opened at all the answer is true: an instance that cannot tell must still start.
    bool acquire();

private:
    std::string path_;
    int descriptor_ = -1;
};

// Whether an instance of `applicationId` owns its name on the session bus; false without a usable
// session bus.
bool instanceRunsOnSessionBus(const std::string& applicationId);

}  // namespace gtk
