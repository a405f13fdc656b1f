#include "platform/gtk/app_bundle.h"

#include "temp_folder.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace gtk {
namespace {

using adapter_test::TempFolder;
using adapter_test::writeFile;

const char* const kInfoPlist = R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
    <key>CFBundleIdentifier</key><string>fr.velmora.universal</string>
    <key>CFBundleExecutable</key><string>Velmora</string>
    <key>CFBundleVersion</key><string>142</string>
    <key>CFBundleShortVersionString</key><string>1.4 « été »</string>
    <key>LSMinimumBuildNumber</key><integer>100</integer>
    <key>LSUIElement</key><true/>
    <key>Hosts</key><array><string>velmora.fr</string></array>
</dict>
</plist>
)";

TEST(AppBundle, ReadsStringsOfTheInfoDictionaryOnly) {
    TempFolder folder;
    const std::string bundle = folder / "Velmora.app";
    writeFile(bundle + "/Contents/Info.plist", kInfoPlist);
    const AppBundle app(bundle);

    const struct {
        const char* key;
        std::optional<std::string> expected;
    } cases[] = {
        {"CFBundleIdentifier", "fr.velmora.universal"},
        {"CFBundleVersion", "142"},
        {"CFBundleShortVersionString", "1.4 « été »"},
        {"LSMinimumBuildNumber", std::nullopt},  // an integer is not a string
        {"LSUIElement", std::nullopt},
        {"Hosts", std::nullopt},
        {"cfbundleversion", std::nullopt},  // keys are compared exactly
        {"Absent", std::nullopt},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.key);
        EXPECT_EQ(app.infoString(testCase.key), testCase.expected);
    }
}

TEST(AppBundle, KeepsTheInfoReadWhenItWasMade) {
    TempFolder folder;
    const std::string bundle = folder / "Velmora.app";
    writeFile(bundle + "/Contents/Info.plist", kInfoPlist);
    const AppBundle app(bundle);
    // A newer build installed over the running one must not change what this copy reports.
    std::filesystem::remove(bundle + "/Contents/Info.plist");
    EXPECT_EQ(app.infoString("CFBundleVersion"), "142");
}

TEST(AppBundle, UnreadableInfoGivesAnEmptyDictionary) {
    const struct {
        const char* behaviour;
        const char* infoContents;  // nullptr: no file; "/": a folder in its place
    } cases[] = {
        {"no Info.plist", nullptr},
        {"Info.plist is a folder", "/"},
        {"Info.plist is not a property list", "CFBundleVersion = 142\n"},
        {"Info.plist is cut short", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleVersion</key>"},
        {"root is an array",
         "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><string>142</string></array></plist>"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder folder;
        const std::string bundle = folder / "Velmora.app";
        std::filesystem::create_directories(bundle + "/Contents");
        if (testCase.infoContents && std::string(testCase.infoContents) == "/") {
            std::filesystem::create_directories(bundle + "/Contents/Info.plist");
        } else if (testCase.infoContents) {
            writeFile(bundle + "/Contents/Info.plist", testCase.infoContents);
        }
        const AppBundle app(bundle);
        EXPECT_EQ(app.infoString("CFBundleVersion"), std::nullopt);
        EXPECT_EQ(app.bundlePath(), bundle);
    }
}

TEST(AppBundle, NamesPathsInsideTheBundle) {
    const AppBundle app("/opt/Mes Applications/Velmora.app");
    EXPECT_EQ(app.bundlePath(), "/opt/Mes Applications/Velmora.app");
    EXPECT_EQ(app.resourcePath("carillon-doux.wav"),
              "/opt/Mes Applications/Velmora.app/Contents/Resources/carillon-doux.wav");
    EXPECT_EQ(app.executablePath("VelmoraRelaunch"),
              "/opt/Mes Applications/Velmora.app/Contents/MacOS/VelmoraRelaunch");
}

TEST(AppBundle, FindsTheBundleTwoLevelsAboveTheProgramsFolder) {
    const struct {
        const char* executable;
        const char* bundle;
    } cases[] = {
        {"/opt/Velmora.app/Contents/MacOS/Velmora", "/opt/Velmora.app"},
        {"/home/lea/Mes Applications/Velmora.app/Contents/MacOS/VelmoraBackground",
         "/home/lea/Mes Applications/Velmora.app"},
        // How the kernel names the running executable once a newer build has replaced it.
        {"/opt/Velmora.app/Contents/MacOS/Velmora (deleted)", "/opt/Velmora.app"},
        {"/Velmora.app/Contents/MacOS/Velmora", "/Velmora.app"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.executable);
        EXPECT_EQ(AppBundle::bundlePathOfExecutable(testCase.executable), testCase.bundle);
    }
}

TEST(AppBundle, RunningExecutableLiesInsideItsBundleFolder) {
    const auto app = AppBundle::fromRunningExecutable();
    ASSERT_NE(app, nullptr);
    g_autofree char* executable = g_file_read_link("/proc/self/exe", nullptr);
    ASSERT_NE(executable, nullptr);
    EXPECT_TRUE(std::string(executable).starts_with(app->bundlePath() + "/")) << app->bundlePath();
    EXPECT_TRUE(std::filesystem::is_directory(app->bundlePath()));
}

}  // namespace
}  // namespace gtk
