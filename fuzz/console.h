// A controller on the fakes, launched and showing an instance's console: the state in which
// the inbox poll runs and the page bridge hears the console's messages.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/velmora.h"
#include "fuzz/require.h"
#include "tests/fakes/fake_platform.h"

namespace fuzzing {

inline constexpr const char* kPublicHost = "velmora.fr";
inline constexpr const char* kInstanceHost = "salon.velmora.fr";
inline constexpr const char* kConsoleURL = "https://salon.velmora.fr/admin";

struct Console {
    Console() {
        fake.defaults.values["velmoraKnownHosts"] = std::vector<std::string>{kInstanceHost};
        controller.applicationWillFinishLaunching();
        controller.applicationDidFinishLaunching();
        // The start page finished loading; the user went on to the console.
        controller.didFinishNavigation();
        fake.views.web->showPage(kConsoleURL);
    }

    // Runs one inbox poll whose page script answers `answer`.
    void poll(const platform::ScriptResult& answer) {
        controller.pollNativeNotifications();
        auto& scripts = fake.views.web->scripts;
        require(scripts.size() == 1, "a poll on the console runs exactly one script");
        auto pending = std::move(scripts.front());
        scripts.clear();
        pending.done(answer);
    }

    fakes::FakePlatform fake;
    velmora::Velmora controller{fake.platform, velmora::BuildConstants{kPublicHost}, {"Velmora"}};
};

}  // namespace fuzzing
