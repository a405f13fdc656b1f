// Entry into the Linux desktop platform; this header carries no toolkit types.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace gtk {

using MakeController = std::function<std::unique_ptr<platform::ApplicationDelegate>(
    platform::Platform&, const std::vector<std::string>& arguments)>;

// Runs the application loop until the process is asked to end and returns the process's exit
// status. Only when this process becomes the running instance does it create the platform
// services and let `makeController` create the controller, before the first launch callback; a
// launch while another instance runs hands itself over and ends without either.
int runApplication(int argc, char** argv, const MakeController& makeController);

}  // namespace gtk
