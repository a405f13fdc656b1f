// Login items as autostart entries: the Exec quoting, what a written entry holds and how the
// desktop reads it back, and the status of each state an entry can be found in.
#include "platform/gtk/autostart.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "temp_folder.h"

namespace gtk {
namespace {

using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;
using platform::LoginServiceStatus;

constexpr const char* kPlistName = "fr.velmora.universal.background.plist";
constexpr const char* kEntryName = "fr.velmora.universal.background.desktop";
constexpr const char* kAppEntryName = "fr.velmora.universal.desktop";

std::string plistWithArguments(const std::vector<std::string>& arguments) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<plist version=\"1.0\"><dict><key>Label</key><string>fr.velmora.universal.background</string>"
        "<key>ProgramArguments</key><array>";
    for (const auto& argument : arguments) text += "<string>" + argument + "</string>";
    return text + "</array><key>RunAtLoad</key><true/></dict></plist>\n";
}

const std::string kShippedPlist = plistWithArguments({"Contents/MacOS/VelmoraBackground"});

// What GLib's launcher (GDesktopAppInfo, used by GNOME's session) makes of an entry's Exec:
// the key file's string unescaped, "%%" expanded, then the command line split as a shell would.
std::vector<std::string> argumentsGLibRuns(const std::string& entryPath) {
    g_autoptr(GKeyFile) entry = g_key_file_new();
    if (!g_key_file_load_from_file(entry, entryPath.c_str(), G_KEY_FILE_NONE, nullptr)) return {};
    g_autofree char* exec = g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, "Exec", nullptr);
    if (!exec) return {};
    std::string expanded;
    for (const char* c = exec; *c; ++c) {
        if (c[0] == '%' && c[1] == '%') ++c;
        expanded += *c;
    }
    g_auto(GStrv) argv = nullptr;
    if (!g_shell_parse_argv(expanded.c_str(), nullptr, &argv, nullptr)) return {};
    return {argv, argv + g_strv_length(argv)};
}

std::string entryValue(const std::string& entryPath, const char* key) {
    g_autoptr(GKeyFile) entry = g_key_file_new();
    if (!g_key_file_load_from_file(entry, entryPath.c_str(), G_KEY_FILE_NONE, nullptr)) return "<illisible>";
    g_autofree char* value = g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
    return value ? value : "<absent>";
}

class Autostart : public testing::Test {
protected:
    // A bundle at `bundleFolder` inside the scratch folder, its launch agent list holding `plist`
    // (none when empty).
    XdgLoginItems makeItems(const std::string& plist = kShippedPlist, const std::string& bundleFolder = "Velmora.app") {
        bundle = folder / bundleFolder;
        std::filesystem::create_directories(bundle + "/Contents/MacOS");
        if (!plist.empty()) writeFile(bundle + "/Contents/Library/LaunchAgents/" + kPlistName, plist);
        return XdgLoginItems(bundle, "fr.velmora.universal", autostart());
    }

    std::string autostart() const { return folder / "config/autostart"; }
    std::string entry() const { return autostart() + "/" + kEntryName; }
    std::string launcher() const { return bundle + "/Contents/MacOS/VelmoraBackground"; }

    TempFolder folder;
    std::string bundle;
};

TEST(ExecQuoting, QuotesExactlyWhatTheFormatReserves) {
    const struct {
        const char* behaviour;
        std::string argument;
        std::string expected;
    } cases[] = {
        {"a plain path stays bare", "/opt/Velmora.app/Contents/MacOS/VelmoraBackground",
         "/opt/Velmora.app/Contents/MacOS/VelmoraBackground"},
        {"letters beyond ASCII are not reserved", "/home/zoé/Applications/Velmóra.app",
         "/home/zoé/Applications/Velmóra.app"},
        {"an equals sign is not reserved", "/a=b", "/a=b"},
        {"a blank needs quotes", "/home/u/Mes applis/V", "\"/home/u/Mes applis/V\""},
        {"an empty argument is kept as one", "", "\"\""},
        {"a double quote is escaped", "/a\"b", "\"/a\\\"b\""},
        {"a backtick is escaped", "/a`b", "\"/a\\`b\""},
        {"a dollar sign is escaped", "/a$HOME", "\"/a\\$HOME\""},
        {"a backslash is escaped", "/a\\b", "\"/a\\\\b\""},
        {"a single quote is quoted but not escaped", "/l'équipe", "\"/l'équipe\""},
        {"a percent sign is doubled", "/100%", "/100%%"},
        {"a percent sign is doubled inside quotes too", "/a b%u", "\"/a b%%u\""},
        {"a line break is quoted as it is", "/a\nb", "\"/a\nb\""},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        EXPECT_EQ(quoteExecArgument(testCase.argument), testCase.expected);
    }
}

TEST(ExecQuoting, EveryReservedCharacterForcesQuotes) {
    for (const char reserved : std::string(" \t\n\"'\\><~|&;$*?#`()")) {
        SCOPED_TRACE(std::string("character ") + reserved);
        const std::string quoted = quoteExecArgument(std::string("/a") + reserved);
        EXPECT_EQ(quoted.front(), '"');
        EXPECT_EQ(quoted.back(), '"');
    }
}

TEST(ExecQuoting, JoinsArgumentsWithSingleBlanks) {
    EXPECT_EQ(execCommandLine({"/a b/prog", "--background", ""}), "\"/a b/prog\" --background \"\"");
}

TEST_F(Autostart, TheDesktopRunsTheLauncherOfAnyBundlePath) {
    const char* folders[] = {
        "Velmora.app",
        "Mes applis/Velmora.app",
        "l'équipe (test) & #1 ~/Velmora.app",
        "a\"b `c` $HOME \\d/Velmora.app",
        "100% sûr/Velmora.app",
        "deux\nlignes/Velmora.app",
        "  blancs devant/Velmora.app",
    };
    for (const char* bundleFolder : folders) {
        SCOPED_TRACE(bundleFolder);
        auto items = makeItems(kShippedPlist, bundleFolder);
        ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
        EXPECT_EQ(argumentsGLibRuns(entry()), std::vector<std::string>{launcher()});
        EXPECT_EQ(entryValue(entry(), "TryExec"), launcher());
    }
}

TEST_F(Autostart, FurtherProgramArgumentsReachTheProgram) {
    auto items = makeItems(plistWithArguments({"Contents/MacOS/VelmoraBackground", "--un", "deux mots", "50%"}));
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(argumentsGLibRuns(entry()), (std::vector<std::string>{launcher(), "--un", "deux mots", "50%"}));
}

TEST_F(Autostart, AnAbsoluteProgramIsTakenAsItIs) {
    auto items = makeItems(plistWithArguments({"/usr/libexec/velmora-agent"}));
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(argumentsGLibRuns(entry()), std::vector<std::string>{"/usr/libexec/velmora-agent"});
}

TEST_F(Autostart, TheWrittenEntryIsValidAndHiddenFromMenus) {
    auto items = makeItems(kShippedPlist, "a\"b `c` $HOME \\d 100%/Velmora.app");
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);

    g_autofree char* output = nullptr;
    g_autofree char* errors = nullptr;
    int status = -1;
    const std::string entryPath = entry();
    const char* argv[] = {"desktop-file-validate", entryPath.c_str(), nullptr};
    ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &output,
                             &errors, &status, nullptr))
        << "desktop-file-validate is missing (scripts/setup installs desktop-file-utils)";
    EXPECT_TRUE(g_spawn_check_wait_status(status, nullptr)) << output << errors;
    EXPECT_STREQ(output, "") << "no warnings either";

    EXPECT_EQ(entryValue(entry(), "Type"), "Application");
    EXPECT_EQ(entryValue(entry(), "Name"), "Velmóra (arrière-plan)");
    EXPECT_EQ(entryValue(entry(), "NoDisplay"), "true");
    EXPECT_EQ(entryValue(entry(), "X-GNOME-Autostart-enabled"), "true");
    const std::string text = readFile(entry());
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.front(), '#') << "the entry says who wrote it";
}

TEST_F(Autostart, RegisteringCreatesTheFolderAndLeavesOnlyTheEntry) {
    auto items = makeItems();
    ASSERT_FALSE(std::filesystem::exists(autostart()));
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    std::vector<std::string> names;
    for (const auto& file : std::filesystem::directory_iterator(autostart())) names.push_back(file.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{kEntryName});
}

TEST_F(Autostart, StatusFollowsWhatTheSessionWouldDo) {
    const struct {
        const char* behaviour;
        const char* entryText;  // nullptr: no entry
        LoginServiceStatus expected;
    } cases[] = {
        {"no entry", nullptr, LoginServiceStatus::NotRegistered},
        {"a plain entry", "[Desktop Entry]\nType=Application\nExec=x\n", LoginServiceStatus::Enabled},
        {"hidden", "[Desktop Entry]\nType=Application\nExec=x\nHidden=true\n", LoginServiceStatus::NotRegistered},
        {"explicitly not hidden", "[Desktop Entry]\nExec=x\nHidden=false\n", LoginServiceStatus::Enabled},
        {"switched off", "[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled=false\n",
         LoginServiceStatus::NotRegistered},
        {"switched on", "[Desktop Entry]\nExec=x\nX-GNOME-Autostart-enabled=true\n", LoginServiceStatus::Enabled},
        {"a Boolean that is none reads as absent", "[Desktop Entry]\nExec=x\nHidden=oui\n",
         LoginServiceStatus::Enabled},
        {"no desktop entry group", "[Autre]\nExec=x\n", LoginServiceStatus::NotRegistered},
        {"not a key file", "ceci n’est pas une entrée\n", LoginServiceStatus::NotRegistered},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        auto items = makeItems();
        std::filesystem::remove(entry());
        if (testCase.entryText) writeFile(entry(), testCase.entryText);
        EXPECT_EQ(items.agentService(kPlistName)->status(), testCase.expected);
    }
}

TEST_F(Autostart, RegisteringOverAHiddenEntryEnablesIt) {
    auto items = makeItems();
    writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=ancien\nHidden=true\n");
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::Enabled);
    EXPECT_EQ(argumentsGLibRuns(entry()), std::vector<std::string>{launcher()});
}

TEST_F(Autostart, WithoutAUsableLaunchAgentListTheAgentIsNotFound) {
    const struct {
        const char* behaviour;
        std::string plist;
    } cases[] = {
        {"no list in the bundle", ""},
        {"not a property list", "\x01\x02 ceci n’est pas un plist"},
        {"no ProgramArguments", "<plist version=\"1.0\"><dict><key>Label</key><string>x</string></dict></plist>"},
        {"empty ProgramArguments", plistWithArguments({})},
        {"an empty program", plistWithArguments({""})},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder scratch;
        const std::string bundlePath = scratch / "Velmora.app";
        std::filesystem::create_directories(bundlePath + "/Contents");
        if (!testCase.plist.empty())
            writeFile(bundlePath + "/Contents/Library/LaunchAgents/" + kPlistName, testCase.plist);
        const std::string folderPath = scratch / "autostart";
        // Even an entry left from an earlier registration does not make a missing agent enabled.
        writeFile(folderPath + "/" + kEntryName, "[Desktop Entry]\nType=Application\nExec=x\n");
        XdgLoginItems items(bundlePath, "fr.velmora.universal", folderPath);
        auto agent = items.agentService(kPlistName);
        EXPECT_EQ(agent->status(), LoginServiceStatus::NotFound);
        const auto error = agent->registerService();
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(kPlistName), std::string::npos) << *error;
        EXPECT_EQ(readFile(folderPath + "/" + kEntryName), "[Desktop Entry]\nType=Application\nExec=x\n");
    }
}

TEST_F(Autostart, AnUnknownBundleHasNoAgent) {
    XdgLoginItems items("", "fr.velmora.universal", autostart());
    EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::NotFound);
    EXPECT_TRUE(items.agentService(kPlistName)->registerService().has_value());
}

TEST_F(Autostart, APlistNameReachingElsewhereIsRefused) {
    auto items = makeItems();
    writeFile(bundle + "/Contents/Library/x.plist", kShippedPlist);
    for (const char* name : {"../x.plist", "fr.velmora.universal.background", ".plist", "a/b.plist"}) {
        SCOPED_TRACE(name);
        auto agent = items.agentService(name);
        EXPECT_EQ(agent->status(), LoginServiceStatus::NotFound);
        EXPECT_TRUE(agent->registerService().has_value());
        EXPECT_EQ(agent->unregisterService(), std::nullopt);
    }
    EXPECT_FALSE(std::filesystem::exists(autostart()));
}

TEST_F(Autostart, AFolderThatCannotBeMadeGivesTheSystemsError) {
    auto items = makeItems();
    // A file where the folder should be: even root cannot create entries below it.
    writeFile(autostart(), "");
    const auto error = items.agentService(kPlistName)->registerService();
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
    EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::NotRegistered);
}

TEST_F(Autostart, UnregisteringDeletesTheEntryAndAMissingOneIsFine) {
    auto items = makeItems();
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(items.agentService(kPlistName)->unregisterService(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entry()));
    EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::NotRegistered);
    EXPECT_EQ(items.agentService(kPlistName)->unregisterService(), std::nullopt);
}

TEST_F(Autostart, AnEntryThatCannotBeDeletedGivesTheSystemsError) {
    auto items = makeItems();
    // A folder that is not empty under the entry's name cannot be deleted as a file.
    writeFile(entry() + "/dedans", "");
    const auto error = items.agentService(kPlistName)->unregisterService();
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->empty());
}

TEST_F(Autostart, APathThatIsNotUTF8CannotBeWritten) {
    auto items = makeItems(kShippedPlist, "lat\xe9n1/Velmora.app");
    const auto error = items.agentService(kPlistName)->registerService();
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(std::filesystem::exists(entry()));
}

TEST_F(Autostart, TheApplicationsOwnEntryIsReadAndRemovedButNeverWritten) {
    auto items = makeItems();
    const std::string appEntry = autostart() + "/" + kAppEntryName;
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::NotRegistered);
    writeFile(appEntry, "[Desktop Entry]\nType=Application\nExec=/opt/Velmora.app/Contents/MacOS/Velmora\n");
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::Enabled);
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);

    EXPECT_EQ(items.mainAppService()->unregisterService(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(appEntry));
    EXPECT_TRUE(std::filesystem::exists(entry())) << "the agent's entry is not the application's";
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::NotRegistered);
    EXPECT_TRUE(items.mainAppService()->registerService().has_value());
    EXPECT_FALSE(std::filesystem::exists(appEntry));
}

TEST_F(Autostart, TheApplicationsHiddenEntryIsNotALoginItem) {
    auto items = makeItems();
    writeFile(autostart() + "/" + kAppEntryName, "[Desktop Entry]\nType=Application\nExec=v\nHidden=true\n");
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::NotRegistered);
}

}  // namespace
}  // namespace gtk
