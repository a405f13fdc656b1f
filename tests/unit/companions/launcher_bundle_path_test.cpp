#include "launcher/launcher_core.h"

#include <gtest/gtest.h>

#include <string_view>

namespace launcher {
namespace {

TEST(LauncherBundlePath, RemovesThreeComponentsOfTheAbsoluteProgramPath) {
    const struct {
        const char* behaviour;
        std::string_view programPath;
        std::string_view workingDirectory;
        std::string_view expected;
    } cases[] = {
        {"program in Contents/MacOS", "/opt/v/Velmora.app/Contents/MacOS/VelmoraBackground", "/tmp",
         "/opt/v/Velmora.app"},
        // One level deeper the computed folder is Contents, which holds no Info.plist.
        {"program one level deeper", "/opt/v/Velmora.app/Contents/MacOS/Helpers/VelmoraBackground", "/tmp",
         "/opt/v/Velmora.app/Contents"},
        {"program one level higher", "/opt/v/Velmora.app/Contents/VelmoraBackground", "/tmp", "/opt/v"},
        {"started from its own folder", "./VelmoraBackground", "/opt/v/Velmora.app/Contents/MacOS",
         "/opt/v/Velmora.app"},
        {"started from the bundle folder", "Contents/MacOS/VelmoraBackground", "/opt/v/Velmora.app",
         "/opt/v/Velmora.app"},
        {"dot-dot in a relative path", "../MacOS/VelmoraBackground", "/opt/v/Velmora.app/Contents/Resources",
         "/opt/v/Velmora.app"},
        {"repeated separators", "/opt/v//Velmora.app/Contents//MacOS/VelmoraBackground", "/tmp", "/opt/v/Velmora.app"},
        {"dot components", "/opt/v/./Velmora.app/Contents/./MacOS/VelmoraBackground", "/tmp", "/opt/v/Velmora.app"},
        {"too shallow a path stops at the root", "/MacOS/VelmoraBackground", "/tmp", "/"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bundleFromProgramPath(c.programPath, c.workingDirectory), c.expected) << c.behaviour;
    }
}

}  // namespace
}  // namespace launcher
