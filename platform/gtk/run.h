// Entry into the Linux desktop platform; this header carries no toolkit types.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace gtk {

// Creates the platform services, lets `makeController` create the controller (before the
// application loop starts) and runs the loop until the process is asked to end. Returns the
// process's exit status.
int runApplication(int argc, char** argv,
                   const std::function<std::unique_ptr<platform::ApplicationDelegate>(
                       platform::Platform&, const std::vector<std::string>& arguments)>& makeController);

}  // namespace gtk
