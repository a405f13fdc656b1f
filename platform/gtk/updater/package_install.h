// Whether the running copy belongs to the Debian package. Only the package manager may change
// the package's files: such a copy receives its new builds from the package's APT repository,
// through the system's software updates, and the installed-build watch relaunches it.
#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>

namespace gtk {

// Asks dpkg for the files of the package and calls `done` once on the main loop with whether
// `bundlePath` is one of them; false when dpkg is missing or the package is not installed.
// `done` is never called once `cancellable` has been cancelled.
void askWhetherInstalledByPackage(const std::string& bundlePath, GCancellable* cancellable,
                                  std::function<void(bool)> done);

// Whether `listing`, the output of `dpkg-query --listfiles`, names `bundlePath` (as it is, or
// with its links resolved in `resolvedPath`).
bool listingNamesBundle(const std::string& listing, const std::string& bundlePath, const std::string& resolvedPath);

}  // namespace gtk
