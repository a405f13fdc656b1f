// Construction of the controller and recognition of a login launch.
#include <algorithm>

#include "app/velmora.h"

namespace velmora {

namespace {

// The login launcher starts the application with exactly this argument.
constexpr const char* kBackgroundArgument = "--background";

bool hasBackgroundArgument(const std::vector<std::string>& arguments) {
    return std::ranges::find(arguments, kBackgroundArgument) != arguments.end();
}

}  // namespace

Velmora::Velmora(platform::Platform& platform, const BuildConstants& constants,
                 const std::vector<std::string>& arguments)
    : platform_(platform),
      activeInstanceHost(constants.publicHost),
      retiredInstanceHosts(constants.retiredHosts),
      allowedInstanceHosts{constants.publicHost},
      // Read once: after a newer build is installed over this copy, the field still
      // describes the copy that is running, which the installed-build watch relies on.
      runningBuild(platform.bundle.infoString("CFBundleVersion").value_or(std::string())),
      loginLaunch(hasBackgroundArgument(arguments)) {}

Velmora::~Velmora() { *alive_ = false; }

bool Velmora::isLoginLaunchEvent() { return platform_.application.currentLaunchIsLoginItem(); }

}  // namespace velmora
