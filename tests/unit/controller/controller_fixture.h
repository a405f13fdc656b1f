// A controller wired to fakes, launched as the platform would launch it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/velmora.h"
#include "tests/fakes/fake_platform.h"

namespace velmora::testing {

inline constexpr const char* kPublicHost = "velmora.fr";

class ControllerTest : public ::testing::Test {
protected:
    // Creates the controller with these command-line arguments (program path first).
    Velmora& create(std::vector<std::string> arguments = {"/opt/velmora/Velmora.app/Contents/MacOS/Velmora"}) {
        controller = std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost}, arguments);
        fake.application.setDelegate(controller.get());
        return *controller;
    }
    // Creates the controller and runs both launch callbacks, as the application loop does.
    Velmora& launch(std::vector<std::string> arguments = {"/opt/velmora/Velmora.app/Contents/MacOS/Velmora"}) {
        create(std::move(arguments));
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
        return *controller;
    }
    fakes::FakeWebView& web() { return *fake.views.web; }
    fakes::FakeWindow& window() { return *fake.views.window; }
    fakes::FakeMenu& menu() { return *fake.application.mainMenu; }
    fakes::FakeMenuItem& item(const std::string& action) { return *menu().findAction(action); }

    fakes::FakePlatform fake;
    std::unique_ptr<Velmora> controller;
};

}  // namespace velmora::testing
