// The built VelmoraRelaunch and VelmoraBackground, run the way the application and the login
// session run them, against bundles made up in a temporary folder whose program is a script
// that writes down what it was started with. The launcher on a session bus, where the
// application runs or not, is tested end to end (tests/e2e/test_background.py).
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::literals;
using std::nullopt;
using Info = std::map<std::string, std::string>;

constexpr const char* kIdentifier = "fr.velmora.test.launcher";
const Info kUsualInfo = {{"CFBundleIdentifier", kIdentifier}, {"CFBundleExecutable", "Velmora"}};

void writeFile(const fs::path& path, const std::string& text, fs::perms permissions = fs::perms(0644)) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    fs::permissions(path, permissions);
}

std::string infoPlist(const Info& strings) {
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : strings) text += "<key>" + key + "</key><string>" + value + "</string>\n";
    return text + "</dict>\n</plist>\n";
}

// Writes to `marker` (whole, through a rename) its arguments, where its standard streams lead,
// whether it leads its own session and the activation tokens it was handed. Read through /proc
// of the script's own process: in a command substitution $$ is still the script, while the
// substitution's own standard output is a pipe.
std::string markerScript(const fs::path& marker) {
    const std::string file = "'" + marker.string() + "'";
    return "#!/bin/sh\n"
           "stdin=$(readlink /proc/$$/fd/0); stdout=$(readlink /proc/$$/fd/1); stderr=$(readlink /proc/$$/fd/2)\n"
           "session=$(cut -d' ' -f6 /proc/$$/stat)\n"
           "{\n"
           "  echo \"count=$#\"; for a in \"$@\"; do echo \"arg=$a\"; done\n"
           "  echo \"stdin=$stdin\"; echo \"stdout=$stdout\"; echo \"stderr=$stderr\"\n"
           "  if [ \"$session\" = \"$$\" ]; then echo session=own; else echo session=inherited; fi\n"
           "  echo \"token=${XDG_ACTIVATION_TOKEN-none}\"; echo \"startup=${DESKTOP_STARTUP_ID-none}\"\n"
           "} > " +
           file + ".tmp && mv " + file + ".tmp " + file + "\n";
}

// A process that has ended and been reaped, so that nothing answers to its identifier.
std::string endedProcessId() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return std::to_string(pid);
}

struct Outcome {
    std::optional<int> exitStatus;  // nullopt: not started, or ended by a signal
    std::string output;             // standard output and standard error together
    double seconds = 0;
};

class ProgramTest : public ::testing::Test {
protected:
    ProgramTest() {
        std::string pattern = (fs::temp_directory_path() / "velmora-companions-XXXXXX").string();
        folder = ::mkdtemp(pattern.data()) ? pattern : "";
        bundle = folder / "Velmora.app";
        marker = folder / "marker";
    }
    ~ProgramTest() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    // A bundle whose program is the marker script; the launcher copied in at `launcherPlace`
    // (a copy, not a link: the launcher may find itself through /proc/self/exe).
    fs::path makeBundle(const Info& info, fs::perms programPermissions = fs::perms(0755),
                        const fs::path& launcherPlace = "Contents/MacOS/VelmoraBackground") {
        fs::remove_all(bundle);
        fs::remove(marker);
        writeFile(bundle / "Contents/Info.plist", infoPlist(info));
        writeFile(bundle / "Contents/MacOS/Velmora", markerScript(marker), programPermissions);
        fs::create_directories((bundle / launcherPlace).parent_path());
        fs::copy_file(VELMORA_BACKGROUND_PROGRAM, bundle / launcherPlace);
        return bundle / launcherPlace;
    }

    // What the marker script wrote, line by line; nullopt when nothing came within five seconds.
    std::optional<std::vector<std::string>> awaitMarker() const {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (!fs::exists(marker)) {
            if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
            std::this_thread::sleep_for(20ms);
        }
        std::ifstream in(marker);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Runs `program` (looked up in the PATH of `environment` when it has no "/") with exactly
    // these arguments and that environment, standard input from /dev/null, to its end.
    Outcome run(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment, const fs::path& workingDirectory = "/") const {
        std::vector<const char*> argv{program.c_str()}, envp;
        for (const auto& argument : arguments) argv.push_back(argument.c_str());
        for (const auto& entry : environment) envp.push_back(entry.c_str());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const auto flags = static_cast<GSpawnFlags>(G_SPAWN_FILE_AND_ARGV_ZERO | G_SPAWN_SEARCH_PATH_FROM_ENVP);
        const auto start = std::chrono::steady_clock::now();
        gchar *out = nullptr, *err = nullptr;
        gint status = 0;
        Outcome outcome;
        if (g_spawn_sync(workingDirectory.c_str(), const_cast<gchar**>(argv.data()), const_cast<gchar**>(envp.data()),
                         flags, nullptr, nullptr, &out, &err, &status, nullptr) &&
            WIFEXITED(status)) {
            outcome.exitStatus = WEXITSTATUS(status);
        }
        outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        outcome.output = std::string(out ? out : "") + (err ? err : "");
        g_free(out);
        g_free(err);
        return outcome;
    }

    Outcome relaunch(std::vector<std::string> arguments, const fs::path& workingDirectory = "/") const {
        arguments.insert(arguments.begin(), VELMORA_RELAUNCH_PROGRAM);
        return run(VELMORA_RELAUNCH_PROGRAM, arguments, {"PATH=/usr/bin:/bin"}, workingDirectory);
    }

    // The environment of a login session, with the tokens of whoever started the launcher.
    static std::vector<std::string> session(const std::string& bus, const std::string& path = "/usr/bin:/bin") {
        return {"PATH=" + path, "DBUS_SESSION_BUS_ADDRESS=" + bus, "XDG_ACTIVATION_TOKEN=token-1",
                "DESKTOP_STARTUP_ID=startup-1"};
    }
    std::string noBus() const { return "unix:path=" + (folder / "no-bus").string(); }

    fs::path folder, bundle, marker;
};

TEST_F(ProgramTest, RelaunchOpensTheBundleWithoutArgumentsOnceTheProcessIsGone) {
    const std::vector<std::string> detached = {"count=0",     "stdin=/dev/null", "stdout=/dev/null", "stderr=/dev/null",
                                               "session=own", "token=none",      "startup=none"};
    for (const std::string& path : {bundle.string(), "./x/../Velmora.app/"s}) {
        makeBundle({{"CFBundleExecutable", "Velmora"}});
        const Outcome outcome = relaunch({endedProcessId(), path}, folder);
        EXPECT_EQ(outcome.exitStatus, 0) << path;
        EXPECT_EQ(outcome.output, "") << path;
        EXPECT_EQ(awaitMarker(), detached) << path;
    }
}

TEST_F(ProgramTest, RelaunchRefusesUnusableCallsAtOnceWithoutWaiting) {
    makeBundle({{"CFBundleExecutable", "Velmora"}});
    writeFile(folder / "Empty.app/Contents/MacOS/Velmora", markerScript(marker), fs::perms(0755));
    // The test process outlives any wait, so a helper that waited would run into the timeout.
    const std::string alive = std::to_string(::getpid());
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{alive, (folder / "Empty.app").string()},  // no Info.plist
                                               {alive, (folder / "Missing.app").string()},
                                               {alive, folder.string()},
                                               {alive, bundle.string(), "extra"},
                                               {"12a", bundle.string()}}) {
        const Outcome outcome = relaunch(arguments);
        EXPECT_EQ(outcome.exitStatus, 2) << arguments.back();
        EXPECT_LT(outcome.seconds, 2.0) << arguments.back();
        EXPECT_EQ(outcome.output, "") << arguments.back();
    }
    EXPECT_FALSE(fs::exists(marker)) << "an unusable call opened the application";
}

TEST_F(ProgramTest, RelaunchReportsAnOpeningFailureWhenTheProgramCannotBeDeterminedOrStarted) {
    const struct {
        const char* behaviour;
        std::string info;
        std::optional<fs::perms> program;  // nullopt: no program file
    } cases[] = {
        {"no CFBundleExecutable", infoPlist({{"CFBundleIdentifier", "fr.velmora.test"}}), fs::perms(0755)},
        {"name leaving Contents/MacOS", infoPlist({{"CFBundleExecutable", "../MacOS/Velmora"}}), fs::perms(0755)},
        {"program missing", infoPlist({{"CFBundleExecutable", "Velmora"}}), nullopt},
        {"program not executable", infoPlist({{"CFBundleExecutable", "Velmora"}}), fs::perms(0644)},
        {"Info.plist no property list", "not a property list", fs::perms(0755)},
    };
    for (const auto& c : cases) {
        fs::remove_all(bundle);
        writeFile(bundle / "Contents/Info.plist", c.info);
        if (c.program) writeFile(bundle / "Contents/MacOS/Velmora", markerScript(marker), *c.program);
        const Outcome outcome = relaunch({endedProcessId(), bundle.string()});
        EXPECT_EQ(outcome.exitStatus, 4) << c.behaviour;
        EXPECT_EQ(outcome.output, "") << c.behaviour;
    }
}

TEST_F(ProgramTest, LauncherOpensTheApplicationInTheBackgroundHoweverItIsStarted) {
    const std::vector<std::string> background = {"count=1",          "arg=--background", "stdin=/dev/null",
                                                 "stdout=/dev/null", "stderr=/dev/null", "session=own",
                                                 "token=none",       "startup=none"};
    const struct {
        const char* behaviour;
        const char* program;
        fs::path workingDirectory;
    } ways[] = {
        {"by its path without a session bus", nullptr, "/"},
        {"by name through PATH", "VelmoraBackground", "/"},
        {"by a relative path", "./VelmoraBackground", bundle / "Contents/MacOS"},
    };
    for (const auto& way : ways) {
        const fs::path launcher = makeBundle(kUsualInfo);
        const std::string program = way.program ? way.program : launcher.string();
        const Outcome outcome =
            run(program, {program}, session(noBus(), launcher.parent_path().string() + ":/usr/bin:/bin"),
                way.workingDirectory);
        EXPECT_EQ(outcome.exitStatus, 0) << way.behaviour;
        EXPECT_EQ(outcome.output, "") << way.behaviour;
        EXPECT_EQ(awaitMarker(), background) << way.behaviour;
    }
}

TEST_F(ProgramTest, LauncherRefusesABundleItCannotUseAndReportsAnApplicationThatCannotStart) {
    const struct {
        const char* behaviour;
        Info info;
        fs::perms program = fs::perms(0755);
        fs::path launcherPlace = "Contents/MacOS/VelmoraBackground";
        int exitStatus = 2;
    } cases[] = {
        // One level deeper the computed bundle is Velmora.app/Contents, which has no Info.plist.
        {"launcher one level deeper", kUsualInfo, fs::perms(0755), "Contents/MacOS/Helpers/VelmoraBackground"},
        {"launcher one level higher", kUsualInfo, fs::perms(0755), "Contents/VelmoraBackground"},
        {"no identifier", {{"CFBundleExecutable", "Velmora"}}},
        {"empty identifier", {{"CFBundleIdentifier", ""}, {"CFBundleExecutable", "Velmora"}}},
        {"no Info.plist", {}},
        {"no CFBundleExecutable",
         {{"CFBundleIdentifier", kIdentifier}},
         fs::perms(0755),
         "Contents/MacOS/VelmoraBackground",
         4},
        {"program not executable", kUsualInfo, fs::perms(0644), "Contents/MacOS/VelmoraBackground", 4},
    };
    for (const auto& c : cases) {
        const fs::path launcher = makeBundle(c.info, c.program, c.launcherPlace);
        if (c.info.empty()) fs::remove(bundle / "Contents/Info.plist");
        const Outcome outcome = run(launcher, {launcher}, session(noBus()));
        EXPECT_EQ(outcome.exitStatus, c.exitStatus) << c.behaviour;
        EXPECT_EQ(outcome.output, "") << c.behaviour;
        EXPECT_FALSE(fs::exists(marker)) << c.behaviour;
    }
}

}  // namespace
