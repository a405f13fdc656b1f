// What the adapter keeps in files of the desktop: login items as autostart entries, the user
// defaults as a key file, the bundle's Info.plist and the instance lock.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/app_bundle.h"
#include "platform/gtk/app_entry.h"
#include "platform/gtk/autostart.h"
#include "platform/gtk/keyfile_defaults.h"
#include "platform/gtk/single_instance.h"
#include "temp_folder.h"

namespace gtk {
namespace {

namespace fs = std::filesystem;
using adapter_test::namesIn;
using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;
using platform::AppEntryState;
using platform::LoginServiceStatus;
using Strings = std::vector<std::string>;
using namespace std::string_literals;

// ---- Autostart entries ----

constexpr const char* kPlistName = "fr.velmora.universal.background.plist";
constexpr const char* kEntryName = "fr.velmora.universal.background.desktop";
constexpr const char* kAppEntryName = "fr.velmora.universal.desktop";
constexpr const char* kPlainEntry = "[Desktop Entry]\nType=Application\nExec=x\n";

std::string plistWithArguments(const Strings& arguments) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>ProgramArguments</key><array>";
    for (const auto& argument : arguments) text += "<string>" + argument + "</string>";
    return text + "</array><key>RunAtLoad</key><true/></dict></plist>\n";
}

const std::string kShippedPlist = plistWithArguments({"Contents/MacOS/VelmoraBackground"});

std::string entryValue(const std::string& entryPath, const char* key) {
    g_autoptr(GKeyFile) entry = g_key_file_new();
    if (!g_key_file_load_from_file(entry, entryPath.c_str(), G_KEY_FILE_NONE, nullptr)) return "<illisible>";
    g_autofree char* value = g_key_file_get_string(entry, G_KEY_FILE_DESKTOP_GROUP, key, nullptr);
    return value ? value : "<absent>";
}

// What GLib's launcher (GDesktopAppInfo, used by GNOME's session) runs for an entry: the key
// file's string unescaped, "%%" expanded, then the command line split as a shell would.
Strings argumentsGLibRuns(const std::string& entryPath) {
    std::string expanded;
    const std::string exec = entryValue(entryPath, "Exec");
    for (size_t i = 0; i < exec.size(); ++i) {
        if (exec.compare(i, 2, "%%") == 0) ++i;
        expanded += exec[i];
    }
    g_auto(GStrv) argv = nullptr;
    if (!g_shell_parse_argv(expanded.c_str(), nullptr, &argv, nullptr)) return {};
    return {argv, argv + g_strv_length(argv)};
}

// What desktop-file-validate finds wrong with the entry at `path`, its warnings included: "" when
// nothing. Its hints are advice, which the application's own entry leaves on purpose (it has two
// main categories, as it is asked to).
std::string validatorComplaints(const std::string& path) {
    g_autofree char* output = nullptr;
    g_autofree char* errors = nullptr;
    int status = -1;
    const char* argv[] = {"desktop-file-validate", path.c_str(), nullptr};
    if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, &output,
                      &errors, &status, nullptr))
        return "desktop-file-validate is missing (scripts/setup installs desktop-file-utils)";
    std::string said;
    std::istringstream lines(std::string(output) + errors);
    for (std::string line; std::getline(lines, line);)
        if (line.find(": hint: ") == std::string::npos) said += line + "\n";
    return g_spawn_check_wait_status(status, nullptr) || !said.empty() ? said : "refused without a word";
}

class Autostart : public testing::Test {
protected:
    // A bundle at `bundleFolder` in the scratch folder, its launch agent list holding `plist`.
    XdgLoginItems makeItems(const std::string& plist = kShippedPlist, const std::string& bundleFolder = "Velmora.app") {
        bundle = folder / bundleFolder;
        fs::create_directories(bundle + "/Contents/MacOS");
        if (!plist.empty()) writeFile(bundle + "/Contents/Library/LaunchAgents/" + kPlistName, plist);
        return XdgLoginItems(bundle, "fr.velmora.universal", autostart());
    }
    std::string autostart() const { return folder / "config/autostart"; }
    std::string entry() const { return autostart() + "/" + kEntryName; }
    std::string launcher() const { return bundle + "/Contents/MacOS/VelmoraBackground"; }

    // `text` with "$this" replaced by this copy's launcher, "$other" and "$spaced" by those of
    // other copies that are installed (the second in a folder with a blank), "$gone" by that of
    // a deleted copy, "$folder" by a folder and "$plain" by a file that may not be run.
    std::string withPrograms(std::string text) {
        const std::string other = installedLauncher("Autre/Velmora.app"),
                          spaced = installedLauncher("Mes applis/Velmora.app");
        const std::string plain = folder / "lisez-moi.txt";
        writeFile(plain, "");
        const std::pair<std::string, std::string> programs[] = {
            {"$this", launcher()},
            {"$other", other},
            {"$spaced", spaced},
            {"$gone", folder / "Supprimée/Velmora.app/Contents/MacOS/VelmoraBackground"},
            {"$folder", folder / "Autre/Velmora.app/Contents/MacOS"},
            {"$plain", plain},
        };
        for (const auto& [name, program] : programs) {
            for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + program.size())) {
                text.replace(at, name.size(), program);
            }
        }
        return text;
    }

    // The launcher of a copy of the bundle at `bundleFolder` in the scratch folder, put there.
    std::string installedLauncher(const std::string& bundleFolder) {
        const std::string program = folder / (bundleFolder + "/Contents/MacOS/VelmoraBackground");
        writeFile(program, "#!/bin/sh\n");
        fs::permissions(program, fs::perms::owner_all);
        return program;
    }

    TempFolder folder;
    std::string bundle;
};

TEST(ExecQuoting, QuotesExactlyWhatTheFormatReserves) {
    const struct {
        const char* argument;
        const char* expected;
    } cases[] = {
        {"/opt/Velmora.app/Contents/MacOS/VelmoraBackground", "/opt/Velmora.app/Contents/MacOS/VelmoraBackground"},
        {"/home/zoé/Velmóra.app", "/home/zoé/Velmóra.app"},  // letters beyond ASCII are not reserved
        {"/a=b", "/a=b"},
        {"/home/u/Mes applis/V", "\"/home/u/Mes applis/V\""},
        {"", "\"\""},
        {"/a\"b", "\"/a\\\"b\""},
        {"/a`b", "\"/a\\`b\""},
        {"/a$HOME", "\"/a\\$HOME\""},
        {"/a\\b", "\"/a\\\\b\""},
        {"/l'équipe", "\"/l'équipe\""},  // quoted but not escaped
        {"/100%", "/100%%"},
        {"/a b%u", "\"/a b%%u\""},
        {"/a\nb", "\"/a\nb\""},
    };
    for (const auto& c : cases) EXPECT_EQ(quoteExecArgument(c.argument), c.expected) << c.argument;
    for (const char reserved : std::string(" \t\n\"'\\><~|&;$*?#`()")) {
        const std::string quoted = quoteExecArgument(std::string("/a") + reserved);
        EXPECT_TRUE(quoted.front() == '"' && quoted.back() == '"') << quoted;
    }
    EXPECT_EQ(execCommandLine({"/a b/prog", "--background", ""}), "\"/a b/prog\" --background \"\"");
}

TEST_F(Autostart, TheDesktopRunsTheProgramOfTheListFromAnyBundlePath) {
    for (const char* bundleFolder :
         {"Velmora.app", "l'équipe (test) & #1 ~/Velmora.app", "a\"b `c` $HOME \\d/Velmora.app", "100% sûr/Velmora.app",
          "deux\nlignes/Velmora.app", "  blancs devant/Velmora.app"}) {
        SCOPED_TRACE(bundleFolder);
        auto items = makeItems(kShippedPlist, bundleFolder);
        ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
        EXPECT_EQ(argumentsGLibRuns(entry()), Strings{launcher()});
        EXPECT_EQ(entryValue(entry(), "TryExec"), launcher());
        EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::Enabled);
        // Read from Exec alone, the written line names this copy's launcher too.
        g_autoptr(GKeyFile) written = g_key_file_new();
        ASSERT_TRUE(g_key_file_load_from_file(written, entry().c_str(), G_KEY_FILE_KEEP_COMMENTS, nullptr));
        g_key_file_remove_key(written, G_KEY_FILE_DESKTOP_GROUP, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, nullptr);
        ASSERT_TRUE(g_key_file_save_to_file(written, entry().c_str(), nullptr));
        EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::Enabled);
    }
    auto items = makeItems(plistWithArguments({"Contents/MacOS/VelmoraBackground", "--un", "deux mots", "50%"}));
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(argumentsGLibRuns(entry()), (Strings{launcher(), "--un", "deux mots", "50%"}));
    auto absolute = makeItems(plistWithArguments({"/usr/libexec/velmora-agent"}));
    ASSERT_EQ(absolute.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(argumentsGLibRuns(entry()), Strings{"/usr/libexec/velmora-agent"});
}

TEST_F(Autostart, TheWrittenEntryIsValidHiddenFromMenusAndAloneInItsNewFolder) {
    auto items = makeItems(kShippedPlist, "a\"b `c` $HOME \\d 100%/Velmora.app");
    // Over an entry the user switched off: registering again switches it on.
    writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=ancien\nHidden=true\n");
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);
    EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::Enabled);

    EXPECT_EQ(validatorComplaints(entry()), "");
    EXPECT_EQ(entryValue(entry(), "Name"), "Velmóra (arrière-plan)");
    EXPECT_EQ(entryValue(entry(), "NoDisplay"), "true");
    EXPECT_EQ(entryValue(entry(), "X-GNOME-Autostart-enabled"), "true");
    EXPECT_TRUE(readFile(entry()).starts_with('#')) << "the entry says who wrote it";
    EXPECT_EQ(namesIn(autostart()), Strings{kEntryName});

    EXPECT_EQ(items.agentService(kPlistName)->unregisterService(), std::nullopt);
    EXPECT_FALSE(fs::exists(entry()));
    EXPECT_EQ(items.agentService(kPlistName)->status(), LoginServiceStatus::NotRegistered);
    EXPECT_EQ(items.agentService(kPlistName)->unregisterService(), std::nullopt) << "a missing entry is fine";
}

TEST_F(Autostart, StatusFollowsWhatTheSessionWouldDo) {
    const struct {
        const char* entryText;  // nullptr: no entry; "$this" stands for this copy's launcher
        LoginServiceStatus expected;
    } cases[] = {
        {nullptr, LoginServiceStatus::NotRegistered},
        {"[Desktop Entry]\nType=Application\nExec=$this\n", LoginServiceStatus::Enabled},
        {"[Desktop Entry]\nExec=$this\nHidden=true\n", LoginServiceStatus::NotRegistered},
        {"[Desktop Entry]\nExec=$this\nHidden=false\n", LoginServiceStatus::Enabled},
        {"[Desktop Entry]\nExec=$this\nX-GNOME-Autostart-enabled=false\n", LoginServiceStatus::NotRegistered},
        {"[Desktop Entry]\nExec=$this\nX-GNOME-Autostart-enabled=true\n", LoginServiceStatus::Enabled},
        {"[Desktop Entry]\nExec=$this\nHidden=oui\n", LoginServiceStatus::Enabled},  // no Boolean: absent
        {"[Autre]\nExec=$this\n", LoginServiceStatus::NotRegistered},
        {"ceci n’est pas une entrée\n", LoginServiceStatus::NotRegistered},
    };
    auto items = makeItems();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entryText ? c.entryText : "no entry");
        fs::remove(entry());
        if (c.entryText) writeFile(entry(), withPrograms(c.entryText));
        EXPECT_EQ(items.agentService(kPlistName)->status(), c.expected);
    }
}

// Every copy of the bundle writes the same entry; the program it starts tells whose it is.
TEST_F(Autostart, OnlyAnEntryThatStartsThisCopysLauncherIsItsRegistration) {
    const struct {
        const char* behaviour;
        const char* keys;  // after "[Desktop Entry]"; "$this", "$other", "$spaced", "$gone" name launchers
        LoginServiceStatus expected;
    } cases[] = {
        {"this copy", "TryExec=$this\nExec=$this", LoginServiceStatus::Enabled},
        {"this copy, Exec only", "Exec=$this --background", LoginServiceStatus::Enabled},
        {"another installed copy", "TryExec=$other\nExec=$other", LoginServiceStatus::NotRegistered},
        {"another copy, Exec only", "Exec=$other", LoginServiceStatus::NotRegistered},
        {"another copy, quoted", "Exec=\"$spaced\" --background", LoginServiceStatus::NotRegistered},
        {"a path with a blank, unquoted", "Exec=$spaced", LoginServiceStatus::StartsMissingProgram},
        {"a program on the search path", "Exec=true", LoginServiceStatus::NotRegistered},
        {"TryExec decides", "TryExec=$other\nExec=$this", LoginServiceStatus::NotRegistered},
        {"an empty TryExec is none", "TryExec=\nExec=$this", LoginServiceStatus::Enabled},
        {"a deleted copy", "TryExec=$gone\nExec=$gone", LoginServiceStatus::StartsMissingProgram},
        {"a deleted copy, Exec only", "Exec=$gone --background", LoginServiceStatus::StartsMissingProgram},
        {"TryExec of a deleted copy", "TryExec=$gone\nExec=$this", LoginServiceStatus::StartsMissingProgram},
        {"a folder is no program", "Exec=$folder", LoginServiceStatus::StartsMissingProgram},
        {"a file that may not be run", "Exec=$plain", LoginServiceStatus::StartsMissingProgram},
        {"no program at all", "Type=Application", LoginServiceStatus::StartsMissingProgram},
        {"a command line that does not parse", "Exec=\"$this", LoginServiceStatus::StartsMissingProgram},
        {"a deleted copy's entry switched off", "Exec=$gone\nHidden=true", LoginServiceStatus::NotRegistered},
    };
    auto items = makeItems();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        writeFile(entry(), withPrograms("[Desktop Entry]\n"s + c.keys + "\n"));
        EXPECT_EQ(items.agentService(kPlistName)->status(), c.expected);
    }
}

TEST_F(Autostart, WithoutAUsableLaunchAgentListTheAgentIsNotFound) {
    const std::string cases[] = {
        "",  // no list in the bundle
        "\x01\x02 ceci n’est pas un plist",
        "<plist version=\"1.0\"><dict><key>Label</key><string>x</string></dict></plist>",
        plistWithArguments({}),
        plistWithArguments({""}),
    };
    for (const auto& plist : cases) {
        SCOPED_TRACE(plist);
        TempFolder scratch;
        fs::create_directories(scratch / "Velmora.app/Contents");
        if (!plist.empty()) writeFile(scratch / ("Velmora.app/Contents/Library/LaunchAgents/"s + kPlistName), plist);
        // Even an entry left from an earlier registration does not make a missing agent enabled.
        writeFile(scratch / ("autostart/"s + kEntryName), kPlainEntry);
        auto agent = XdgLoginItems(scratch / "Velmora.app", "fr.velmora.universal", scratch / "autostart")
                         .agentService(kPlistName);
        EXPECT_EQ(agent->status(), LoginServiceStatus::NotFound);
        const auto error = agent->registerService();
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(kPlistName), std::string::npos) << *error;
        EXPECT_EQ(readFile(scratch / ("autostart/"s + kEntryName)), kPlainEntry);
    }
    auto unknown = XdgLoginItems("", "fr.velmora.universal", autostart()).agentService(kPlistName);
    EXPECT_EQ(unknown->status(), LoginServiceStatus::NotFound) << "a bundle that is not known has no agent";
    EXPECT_TRUE(unknown->registerService().has_value());
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
    EXPECT_FALSE(fs::exists(autostart()));
}

// A file where the autostart folder should be is tested end to end (tests/e2e/test_background.py).
TEST_F(Autostart, WhatCannotBeWrittenOrDeletedGivesAnError) {
    auto items = makeItems(kShippedPlist, "lat\xe9n1/Velmora.app");
    EXPECT_TRUE(items.agentService(kPlistName)->registerService().has_value()) << "a path that is not UTF-8";
    EXPECT_FALSE(fs::exists(entry()));
    // A folder that is not empty under the entry's name cannot be deleted as a file.
    writeFile(entry() + "/dedans", "");
    const auto undeletable = items.agentService(kPlistName)->unregisterService();
    ASSERT_TRUE(undeletable.has_value());
    EXPECT_FALSE(undeletable->empty());
}

TEST_F(Autostart, TheApplicationsOwnEntryIsReadAndRemovedButNeverWritten) {
    auto items = makeItems();
    const std::string appEntry = autostart() + "/" + kAppEntryName;
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::NotRegistered);
    writeFile(appEntry, "[Desktop Entry]\nType=Application\nExec=v\nHidden=true\n");
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::NotRegistered);
    writeFile(appEntry, kPlainEntry);
    EXPECT_EQ(items.mainAppService()->status(), LoginServiceStatus::Enabled);
    ASSERT_EQ(items.agentService(kPlistName)->registerService(), std::nullopt);

    EXPECT_EQ(items.mainAppService()->unregisterService(), std::nullopt);
    EXPECT_FALSE(fs::exists(appEntry));
    EXPECT_TRUE(fs::exists(entry())) << "the agent's entry is not the application's";
    EXPECT_TRUE(items.mainAppService()->registerService().has_value());
    EXPECT_FALSE(fs::exists(appEntry));
}

// ---- The application's entry for the desktop ----

constexpr const char* kAppId = "fr.velmora.universal";
// The icons in the user's theme and the bundle's resources they are copied from.
constexpr std::pair<const char*, const char*> kThemeIcons[] = {
    {"scalable/apps/fr.velmora.universal.svg", "fr.velmora.universal.svg"},
    {"128x128/apps/fr.velmora.universal.png", "fr.velmora.universal-128.png"},
    {"256x256/apps/fr.velmora.universal.png", "fr.velmora.universal-256.png"},
};

// Public, for the steps of the table below, which receive the fixture.
class DesktopEntry : public testing::Test {
public:
    // A copy of the bundle at `bundleFolder` in the scratch folder, with the build's desktop
    // entry and the product's icons in its resources.
    std::string makeBundle(const std::string& bundleFolder) {
        const std::string bundle = folder / bundleFolder;
        const std::string resources = bundle + "/Contents/Resources/";
        writeFile(resources + kAppId + ".desktop", readFile(VELMORA_BUNDLED_ENTRY));
        for (const auto& [_, resource] : kThemeIcons)
            writeFile(resources + resource, readFile(VELMORA_ICON_FOLDER + "/"s + resource));
        return bundle;
    }
    // The entry of the copy at `bundle`; a package's entry goes in either of two shared folders.
    XdgAppEntry entryOf(const std::string& bundle) const {
        return XdgAppEntry(bundle, kAppId, data(), {folder / "local/share", folder / "share"});
    }
    std::string data() const { return folder / "data"; }
    std::string userEntry() const { return data() + "/applications/" + kAppId + ".desktop"; }
    std::string theme() const { return data() + "/icons/hicolor"; }
    void installPackageEntry() const { writeFile(folder / "share/applications/"s + kAppId + ".desktop", kPlainEntry); }
    static std::string programOf(const std::string& bundle) { return bundle + "/Contents/MacOS/Velmora"; }

    TempFolder folder;
};

TEST_F(DesktopEntry, ACopyWritesAnEntryThatStartsItAndTheIconsItNames) {
    // An ordinary folder, and the icons the entry names, are tested end to end (tests/e2e/test_shell.py).
    const std::string bundle = makeBundle("Mes applis/l'équipe \"2\" $HOME 100%/Velmora.app");
    // A theme that already holds icons, and a cache of it older than the icons about to be
    // added: adding them changes no time of the theme's own folder.
    for (const auto& [themeFile, _] : kThemeIcons)
        fs::create_directories(fs::path(theme() + "/" + themeFile).parent_path());
    writeFile(theme() + "/icon-theme.cache", "");
    const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
    fs::last_write_time(theme() + "/icon-theme.cache", longAgo);
    fs::last_write_time(theme(), longAgo);
    auto entry = entryOf(bundle);
    ASSERT_EQ(entry.installThisCopy(), std::nullopt);

    EXPECT_EQ(argumentsGLibRuns(userEntry()), Strings{programOf(bundle)});
    EXPECT_EQ(entryValue(userEntry(), "TryExec"), programOf(bundle));
    EXPECT_EQ(entryValue(userEntry(), "Name"), "Velmóra");
    EXPECT_EQ(validatorComplaints(userEntry()), "");
    EXPECT_TRUE(readFile(userEntry()).starts_with('#')) << "the entry says who wrote it";
    // The theme's readers look at its folders again instead of believing the cache.
    EXPECT_GT(fs::last_write_time(theme()), fs::last_write_time(theme() + "/icon-theme.cache"));
    EXPECT_EQ(entry.state(), AppEntryState::ThisCopy);
}

TEST_F(DesktopEntry, StateTellsWhoseEntryTheDesktopFinds) {
    const std::string here = makeBundle("Velmora.app"), elsewhere = makeBundle("Ailleurs/Velmora.app");
    const auto install = [](const std::string& bundle) {
        return [bundle](DesktopEntry& t) { ASSERT_EQ(t.entryOf(bundle).installThisCopy(), std::nullopt); };
    };
    const struct {
        const char* behaviour;
        std::vector<std::function<void(DesktopEntry&)>> steps;
        AppEntryState expected;
    } cases[] = {
        {"nothing anywhere", {}, AppEntryState::Missing},
        {"written by this copy", {install(here)}, AppEntryState::ThisCopy},
        {"written by a copy elsewhere", {install(elsewhere)}, AppEntryState::OutOfStep},
        {"an icon deleted",
         {install(here), [](DesktopEntry& t) { fs::remove(t.theme() + "/" + kThemeIcons[1].first); }},
         AppEntryState::OutOfStep},
        {"an icon of another build",
         {install(here), [](DesktopEntry& t) { writeFile(t.theme() + "/" + kThemeIcons[0].first, "<svg/>"); }},
         AppEntryState::OutOfStep},
        {"the entry of another build",
         {install(here), [](DesktopEntry& t) { writeFile(t.userEntry(), readFile(t.userEntry()) + "Keywords=x;\n"); }},
         AppEntryState::OutOfStep},
        {"the user's own", {[](DesktopEntry& t) { writeFile(t.userEntry(), kPlainEntry); }}, AppEntryState::UsersOwn},
        {"the user's own, not marked as written",
         {[](DesktopEntry& t) { writeFile(t.userEntry(), kPlainEntry + "X-Velmora-Written=false\n"s); }},
         AppEntryState::UsersOwn},
        {"the user's own over the package's",
         {[](DesktopEntry& t) { writeFile(t.userEntry(), kPlainEntry); }, &DesktopEntry::installPackageEntry},
         AppEntryState::UsersOwn},
        {"the package's", {&DesktopEntry::installPackageEntry}, AppEntryState::System},
        {"written by a copy over the package's",
         {install(here), &DesktopEntry::installPackageEntry},
         AppEntryState::WrittenOverSystem},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        fs::remove_all(data());
        fs::remove_all(folder / "share");
        for (const auto& step : c.steps) step(*this);
        EXPECT_EQ(entryOf(here).state(), c.expected);
    }
    // The user's data folder listed among the shared ones too holds no package's entry.
    install(here)(*this);
    EXPECT_EQ(XdgAppEntry(here, kAppId, data(), {data()}).state(), AppEntryState::ThisCopy);
}

TEST_F(DesktopEntry, AMovedCopyRewritesTheEntryForItsNewPlace) {
    const std::string before = makeBundle("Avant/Velmora.app"), after = makeBundle("Après/Velmora.app");
    ASSERT_EQ(entryOf(before).installThisCopy(), std::nullopt);
    ASSERT_EQ(entryOf(after).installThisCopy(), std::nullopt);
    EXPECT_EQ(argumentsGLibRuns(userEntry()), Strings{programOf(after)});
    EXPECT_EQ(entryValue(userEntry(), "TryExec"), programOf(after));
    EXPECT_EQ(namesIn(data() + "/applications"), Strings{kAppId + ".desktop"s});
    EXPECT_EQ(entryOf(after).state(), AppEntryState::ThisCopy);
    EXPECT_EQ(entryOf(before).state(), AppEntryState::OutOfStep);
}

TEST_F(DesktopEntry, OnlyWhatACopyWroteIsRemovedWithItsIcons) {
    const std::string bundle = makeBundle("Velmora.app");
    auto entry = entryOf(bundle);
    ASSERT_EQ(entry.installThisCopy(), std::nullopt);
    installPackageEntry();
    fs::last_write_time(theme(), fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto touchedBefore = fs::last_write_time(theme());
    EXPECT_EQ(entry.removeWritten(), std::nullopt);
    EXPECT_FALSE(fs::exists(userEntry()));
    for (const auto& [themeFile, _] : kThemeIcons) EXPECT_FALSE(fs::exists(theme() + "/" + themeFile)) << themeFile;
    EXPECT_GT(fs::last_write_time(theme()), touchedBefore) << "the theme's readers are told";
    EXPECT_EQ(entry.state(), AppEntryState::System);
    EXPECT_EQ(entry.removeWritten(), std::nullopt) << "nothing left to remove";
    writeFile(userEntry(), kPlainEntry);
    EXPECT_EQ(entry.removeWritten(), std::nullopt);
    EXPECT_EQ(readFile(userEntry()), kPlainEntry) << "the user's own entry stays";
}

TEST_F(DesktopEntry, WhatCannotBeWrittenGivesAnErrorAndNoEntry) {
    const struct {
        const char* behaviour;
        const char* bundleFolder;  // nullptr: the bundle is not known
        const char* removedResource;
        const char* errorNames;
    } cases[] = {
        {"no desktop entry in the bundle", "Velmora.app", "fr.velmora.universal.desktop",
         "fr.velmora.universal.desktop"},
        {"an icon missing from the bundle", "Velmora.app", "fr.velmora.universal-256.png",
         "fr.velmora.universal-256.png"},
        {"a path that is not UTF-8", "lat\xe9n1/Velmora.app", nullptr, "lat"},
        {"a bundle that is not known", nullptr, nullptr, "inconnu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        const std::string bundle = c.bundleFolder ? makeBundle(c.bundleFolder) : "";
        if (c.removedResource) fs::remove(bundle + "/Contents/Resources/" + c.removedResource);
        const auto error = entryOf(bundle).installThisCopy();
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(c.errorNames), std::string::npos) << *error;
        EXPECT_FALSE(fs::exists(data()));
        fs::remove_all(folder / "Velmora.app");
    }
    // A file where the user's data folder should be: even root cannot write below it.
    writeFile(data(), "");
    const auto unwritable = entryOf(makeBundle("Velmora.app")).installThisCopy();
    ASSERT_TRUE(unwritable.has_value());
    EXPECT_FALSE(unwritable->empty());
}

// ---- User defaults ----

// The system log as the tests read it: every line written, in order.
class RecordingLog final : public platform::Log {
public:
    void write(const std::string& line) override { lines.push_back(line); }
    Strings lines;
};

TEST(KeyFileDefaults, ValuesComeBackExactlyInThisRunAndTheNext) {
    RecordingLog log;
    const std::string strings[] = {
        "",
        "a,b;c;",
        "première\nseconde\r\n",
        "  en retrait\t ",
        "C:\\dossier\\n\\",
        "Réservé · 日本 🙂",
        "[Velmora]\nstring:host=ailleurs\n# remarque",
        "true",
        "avant\0après"s,
        "\xff\xfe\x80",
    };
    const Strings arrays[] = {
        {},
        {""},
        {"", ""},
        {"a;b", ";", "c;"},
        {"a\\", "\\;", "\\"},
        {"x,y", "l1\nl2", " devant", "\t"},
        {"simple", "a\0b"s, ""},
        {"simple", "\xc3", ";"},
    };
    TempFolder folder;
    const std::string path = folder / "defaults.ini";
    for (const auto& value : strings) {
        KeyFileDefaults writer(path, log);
        writer.setString("valeur", value);
        EXPECT_EQ(writer.string("valeur"), value);
        EXPECT_EQ(KeyFileDefaults(path, log).string("valeur"), value);
    }
    for (const auto& value : arrays) {
        KeyFileDefaults writer(path, log);
        writer.setStringArray("liste", value);
        EXPECT_EQ(writer.stringArray("liste"), value);
        EXPECT_EQ(KeyFileDefaults(path, log).stringArray("liste"), value);
    }
    KeyFileDefaults(path, log).setBoolean("oui", true);
    KeyFileDefaults(path, log).setBoolean("non", false);
    EXPECT_TRUE(KeyFileDefaults(path, log).boolean("oui"));
    EXPECT_FALSE(KeyFileDefaults(path, log).boolean("non"));
    EXPECT_FALSE(KeyFileDefaults(path, log).boolean("absent"));
}

TEST(KeyFileDefaults, KeysOfAnyFormStayApart) {
    RecordingLog log;
    const std::string keys[] = {
        "simple", "avec espace", "a=b", "[groupe]", "a:b", "a%3Ab", "string:simple", "é", "", " devant", "ligne\nsuite",
    };
    TempFolder folder;
    {
        KeyFileDefaults writer(folder / "defaults.ini", log);
        for (const auto& key : keys) writer.setString(key, "valeur de " + key);
    }
    const KeyFileDefaults reader(folder / "defaults.ini", log);
    for (const auto& key : keys) EXPECT_EQ(reader.string(key), "valeur de " + key) << key;
}

// The poll stores its seen list after every pass; an unchanged list leaves the file alone.
TEST(KeyFileDefaults, AnUnchangedListIsNotWrittenAgain) {
    RecordingLog log;
    TempFolder folder;
    const std::string path = folder / "defaults.ini";
    KeyFileDefaults defaults(path, log);
    defaults.setStringArray("vus", {"a", "b"});
    ASSERT_TRUE(g_file_set_contents(path.c_str(), "marque", -1, nullptr));
    defaults.setStringArray("vus", {"a", "b"});
    g_autofree char* kept = nullptr;
    ASSERT_TRUE(g_file_get_contents(path.c_str(), &kept, nullptr, nullptr));
    EXPECT_STREQ(kept, "marque");
    defaults.setStringArray("vus", {"a"});
    EXPECT_EQ(KeyFileDefaults(path, log).stringArray("vus"), std::vector<std::string>{"a"});
}

TEST(KeyFileDefaults, EachKeyHoldsOneTypeAndOthersReadAsAbsent) {
    RecordingLog log;
    TempFolder folder;
    KeyFileDefaults defaults(folder / "defaults.ini", log);
    defaults.setString("texte", "true");
    defaults.setStringArray("liste", {"true"});
    defaults.setBoolean("drapeau", true);
    defaults.setString("clé", "texte");
    defaults.setStringArray("clé", {"a"});
    defaults.setBoolean("clé", true);
    const KeyFileDefaults reloaded(folder / "defaults.ini", log);
    for (const KeyFileDefaults* store : {static_cast<const KeyFileDefaults*>(&defaults), &reloaded}) {
        EXPECT_FALSE(store->boolean("texte"));
        EXPECT_EQ(store->stringArray("texte"), std::nullopt);
        EXPECT_EQ(store->string("liste"), std::nullopt);
        EXPECT_FALSE(store->boolean("liste"));
        EXPECT_EQ(store->string("drapeau"), std::nullopt);
        EXPECT_EQ(store->stringArray("drapeau"), std::nullopt);
        EXPECT_EQ(store->string("clé"), std::nullopt);
        EXPECT_EQ(store->stringArray("clé"), std::nullopt);
        EXPECT_TRUE(store->boolean("clé"));
    }
}

TEST(KeyFileDefaults, AMissingFileReadsEmptyAndTheFirstChangeCreatesItPrivately) {
    RecordingLog log;
    TempFolder folder;
    const std::string path = folder / "config/fr.velmora.universal/defaults.ini";
    KeyFileDefaults defaults(path, log);
    EXPECT_EQ(defaults.string("hôte"), std::nullopt);
    EXPECT_EQ(defaults.stringArray("hôtes"), std::nullopt);
    EXPECT_FALSE(fs::exists(path)) << "reading alone writes nothing";

    defaults.setBoolean("démarrage", true);
    EXPECT_TRUE(defaults.savesChanges());
    struct stat file = {}, directory = {};
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    ASSERT_EQ(stat((folder / "config/fr.velmora.universal").c_str(), &directory), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(directory.st_mode & 0777, 0700u);
    EXPECT_TRUE(KeyFileDefaults(path, log).boolean("démarrage"));
}

TEST(KeyFileDefaults, AReadableFileKeepsWhatItDoesNotOwnWhenSaved) {
    RecordingLog log;
    const struct {
        const char* contents;
        Strings kept;
    } cases[] = {
        {"", {}},
        {"# écrit à la main\n[Autre]\ngarder=1\n\n[Velmora]\nboolean:drapeau=true\n",
         {"# écrit à la main", "[Autre]\ngarder=1", "drapeau=true"}},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        writeFile(folder / "defaults.ini", c.contents);
        KeyFileDefaults(folder / "defaults.ini", log).setString("hôte", "velmora.fr");
        const std::string saved = readFile(folder / "defaults.ini");
        for (const auto& kept : c.kept) EXPECT_NE(saved.find(kept), std::string::npos) << saved;
        EXPECT_EQ(KeyFileDefaults(folder / "defaults.ini", log).string("hôte"), "velmora.fr");
        EXPECT_EQ(log.lines, Strings{}) << "nothing was moved aside";
    }
}

// A file cut short, binary data and a folder in its place are tested end to end
// (tests/e2e/test_hardening.py); here, whole text that GKeyFile would read in part.
TEST(KeyFileDefaults, ADamagedFileIsKeptAsideAndTheSettingsStartAnew) {
    const std::string cases[] = {
        "ceci n'est pas un fichier de réglages\n",
        "[Velmora]\nstring:h%C3%B4te=velmora.fr\0reste\n"s,
    };
    for (const auto& contents : cases) {
        SCOPED_TRACE(contents);
        TempFolder folder;
        const std::string path = folder / "defaults.ini";
        writeFile(path, contents);
        RecordingLog log;
        KeyFileDefaults defaults(path, log);
        EXPECT_EQ(defaults.string("hôte"), std::nullopt) << "nothing of the damaged file is read";
        EXPECT_TRUE(defaults.savesChanges());
        const Strings names = namesIn(folder.path);
        ASSERT_EQ(names.size(), 1u);
        EXPECT_TRUE(std::regex_match(names.front(), std::regex(R"(defaults\.ini\.illisible-\d{8}-\d{6})")))
            << names.front();
        const std::string kept = folder / names.front();
        EXPECT_EQ(log.lines, Strings{"Velmóra: réglages illisibles mis de côté: " + kept});
        EXPECT_EQ(readFile(kept), contents);
        defaults.setString("hôte", "nouveau.velmora.fr");
        EXPECT_EQ(KeyFileDefaults(path, log).string("hôte"), "nouveau.velmora.fr");
        EXPECT_EQ(log.lines.size(), 1u) << "the new file is whole";
    }
}

TEST(KeyFileDefaults, ACopyKeptEarlierIsNeverReplaced) {
    TempFolder folder;
    const std::string path = folder / "defaults.ini";
    // Copies under every name that the next seconds could give, the first two of each second.
    Strings earlier;
    g_autoptr(GDateTime) now = g_date_time_new_now_local();
    for (int second = 0; second < 3; ++second) {
        g_autoptr(GDateTime) then = g_date_time_add_seconds(now, second);
        g_autofree char* stamp = g_date_time_format(then, "%Y%m%d-%H%M%S");
        for (const char* number : {"", "-2"}) {
            earlier.push_back(path + ".illisible-" + stamp + number);
            writeFile(earlier.back(), "gardé plus tôt");
        }
    }
    writeFile(path, "[Velm");
    RecordingLog log;
    KeyFileDefaults defaults(path, log);
    ASSERT_EQ(log.lines.size(), 1u);
    const std::string kept = log.lines.front().substr(log.lines.front().rfind(' ') + 1);
    EXPECT_TRUE(kept.starts_with(path + ".illisible-") && kept.ends_with("-3")) << kept;
    EXPECT_EQ(readFile(kept), "[Velm");
    for (const auto& copy : earlier) EXPECT_EQ(readFile(copy), "gardé plus tôt") << copy;
}

TEST(KeyFileDefaults, ADamagedFileThatCannotBeMovedAsideIsNeverWrittenOver) {
    TempFolder folder;
    // A name so long that no name beside it with more characters is allowed.
    const std::string name(250, 'r');
    const std::string path = folder / name;
    writeFile(path, "[Velm");
    RecordingLog log;
    KeyFileDefaults defaults(path, log);
    EXPECT_FALSE(defaults.savesChanges());
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_TRUE(log.lines.front().starts_with("Velmóra: réglages illisibles, modifications non enregistrées: "))
        << log.lines.front();
    defaults.setString("hôte", "nouveau.velmora.fr");
    defaults.setStringArray("hôtes", {"a"});
    EXPECT_EQ(defaults.string("hôte"), "nouveau.velmora.fr") << "changes hold for this run, in memory only";
    EXPECT_EQ(readFile(path), "[Velm");
    EXPECT_EQ(namesIn(folder.path), Strings{name});
}

// ---- The bundle ----

TEST(AppBundle, ReadsTheStringsOfTheInfoDictionaryWhenMade) {
    TempFolder folder;
    const std::string bundle = folder / "Velmora.app";
    writeFile(bundle + "/Contents/Info.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>CFBundleIdentifier</key><string>fr.velmora.universal</string>"
              "<key>CFBundleShortVersionString</key><string>1.4 « été »</string>"
              "<key>LSMinimumBuildNumber</key><integer>100</integer><key>LSUIElement</key><true/>"
              "<key>Hosts</key><array><string>velmora.fr</string></array></dict></plist>\n");
    const AppBundle app(bundle);
    // A newer build installed over the running one must not change what this copy reports.
    fs::remove(bundle + "/Contents/Info.plist");
    EXPECT_EQ(app.infoString("CFBundleIdentifier"), "fr.velmora.universal");
    EXPECT_EQ(app.infoString("CFBundleShortVersionString"), "1.4 « été »");
    for (const char* other : {"LSMinimumBuildNumber", "LSUIElement", "Hosts", "cfbundleidentifier", "Absent"})
        EXPECT_EQ(app.infoString(other), std::nullopt) << other;
}

TEST(AppBundle, AnUnreadableInfoGivesAnEmptyDictionary) {
    for (const char* contents : {static_cast<const char*>(nullptr), "/", "CFBundleVersion = 142\n",
                                 "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>CFBundleVersion</key>",
                                 "<plist version=\"1.0\"><array><string>142</string></array></plist>"}) {
        SCOPED_TRACE(contents ? contents : "no Info.plist");
        TempFolder folder;
        const std::string info = folder / "Velmora.app/Contents/Info.plist";
        fs::create_directories(folder / "Velmora.app/Contents");
        if (contents && contents == "/"s) fs::create_directories(info);
        if (contents && contents != "/"s) writeFile(info, contents);
        EXPECT_EQ(AppBundle(folder / "Velmora.app").infoString("CFBundleVersion"), std::nullopt);
    }
}

TEST(AppBundle, TheBundleLiesTwoLevelsAboveTheProgramsFolder) {
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
    for (const auto& c : cases) EXPECT_EQ(AppBundle::bundlePathOfExecutable(c.executable), c.bundle);
    const auto running = AppBundle::fromRunningExecutable();
    ASSERT_NE(running, nullptr);
    g_autofree char* executable = g_file_read_link("/proc/self/exe", nullptr);
    EXPECT_TRUE(std::string(executable).starts_with(running->bundlePath() + "/")) << running->bundlePath();
}

// ---- The instance lock ----

// What flock(1) finds: 0 when it could take the lock at `path` itself, 7 when someone holds it.
int flockToolStatus(const std::string& path) {
    const char* argv[] = {"flock", "--nonblock", "--conflict-exit-code", "7", path.c_str(), "true", nullptr};
    int status = -1;
    if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                      nullptr, &status, nullptr))
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One holder at a time, across processes and buses, is tested end to end
// (tests/e2e/test_background.py).
TEST(InstanceLock, AProgramStartedByTheHolderDoesNotKeepIt) {
    TempFolder folder;
    const std::string path = folder / "app.lock";
    auto lock = std::make_unique<InstanceLock>(path);
    ASSERT_TRUE(lock->acquire());
    // The child is given every descriptor that is not close-on-exec, as a web process would be.
    const char* argv[] = {"sleep", "30", nullptr};
    GPid child = 0;
    const auto flags =
        static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_LEAVE_DESCRIPTORS_OPEN | G_SPAWN_DO_NOT_REAP_CHILD);
    ASSERT_TRUE(g_spawn_async(nullptr, const_cast<char**>(argv), nullptr, flags, nullptr, nullptr, &child, nullptr));
    lock.reset();
    EXPECT_EQ(flockToolStatus(path), 0) << "the child still holds the lock";
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    g_spawn_close_pid(child);
}

TEST(InstanceLock, ALockFileThatCannotBeOpenedDoesNotStopTheLaunch) {
    TempFolder folder;
    fs::create_directories(folder / "app.lock");
    EXPECT_TRUE(InstanceLock(folder / "app.lock").acquire());
}

}  // namespace
}  // namespace gtk
