// The built VelmoraBackground, copied into a made-up bundle (a copy, not a link: the program
// may find itself through /proc/self/exe, which resolves links) and run against a private
// session bus or none at all.
#include "program_harness.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace companion_test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kIdentifier = "fr.velmora.test.launcher";

// A dbus-daemon of the test's own, listening on a socket in the test's folder only.
class PrivateBus {
public:
    explicit PrivateBus(const fs::path& folder) {
        const std::string listen = "unix:path=" + (folder / "bus").string();
        daemon_ = g_subprocess_new(G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr, "dbus-daemon", "--session", "--nofork",
                                   "--print-address=1", ("--address=" + listen).c_str(), nullptr);
        if (daemon_ == nullptr) {
            return;
        }
        GDataInputStream* lines = g_data_input_stream_new(g_subprocess_get_stdout_pipe(daemon_));
        gchar* line = g_data_input_stream_read_line(lines, nullptr, nullptr, nullptr);
        if (line != nullptr) {
            address_ = line;
        }
        g_free(line);
        g_object_unref(lines);
    }

    ~PrivateBus() {
        if (connection_ != nullptr) {
            g_dbus_connection_close_sync(connection_, nullptr, nullptr);
            g_object_unref(connection_);
        }
        if (daemon_ != nullptr) {
            g_subprocess_force_exit(daemon_);
            g_subprocess_wait(daemon_, nullptr, nullptr);
            g_object_unref(daemon_);
        }
    }

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    PrivateBus(PrivateBus&&) = delete;
    PrivateBus& operator=(PrivateBus&&) = delete;

    // The address to hand to programs; empty when the daemon did not start.
    const std::string& address() const { return address_; }

    // Takes `name` on the bus the way a running GApplication does; true when it is ours.
    bool own(const std::string& name) {
        const auto flags = static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION);
        connection_ = g_dbus_connection_new_for_address_sync(address_.c_str(), flags, nullptr, nullptr, nullptr);
        if (connection_ == nullptr) {
            return false;
        }
        GVariant* reply = g_dbus_connection_call_sync(
            connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
            g_variant_new("(su)", name.c_str(), 4U /* DBUS_NAME_FLAG_DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
            G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
        guint32 result = 0;
        if (reply != nullptr) {
            g_variant_get(reply, "(u)", &result);
            g_variant_unref(reply);
        }
        return result == 1;  // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
    }

private:
    GSubprocess* daemon_ = nullptr;
    GDBusConnection* connection_ = nullptr;
    std::string address_;
};

class LauncherProgram : public testing::Test {
protected:
    void SetUp() override {
        bundle = folder.path() / "Velmora.app";
        marker = folder.path() / "marker";
        noBus = "unix:path=" + (folder.path() / "no-bus").string();
    }

    // A complete bundle: Info.plist, the application (the marker script) and the launcher at
    // `launcherPlace` inside the bundle.
    fs::path makeBundle(const std::map<std::string, std::string>& info,
                        const fs::path& launcherPlace = "Contents/MacOS/VelmoraBackground") {
        writeFile(bundle / "Contents/Info.plist", infoPlist(info));
        writeFile(bundle / "Contents/MacOS/Velmora", markerScript(marker), fs::perms(0755));
        fs::path launcher = bundle / launcherPlace;
        fs::create_directories(launcher.parent_path());
        fs::copy_file(VELMORA_BACKGROUND_PROGRAM, launcher, fs::copy_options::overwrite_existing);
        return launcher;
    }

    static std::map<std::string, std::string> usualInfo() {
        return {{"CFBundleIdentifier", kIdentifier}, {"CFBundleExecutable", "Velmora"}};
    }

    // The environment of a login session, tokens of whoever started the launcher included.
    static std::vector<std::string> environment(const std::string& busAddress) {
        return {"PATH=/usr/bin:/bin", "DBUS_SESSION_BUS_ADDRESS=" + busAddress, "XDG_ACTIVATION_TOKEN=token-1",
                "DESKTOP_STARTUP_ID=startup-1"};
    }

    static Outcome launch(const fs::path& launcher, const std::string& busAddress) {
        return runProgram({launcher, {launcher.string()}, environment(busAddress)});
    }

    TemporaryFolder folder;
    fs::path bundle;
    fs::path marker;
    std::string noBus;
};

const std::vector<std::string> kOpenedInBackground = {"count=1",          "arg=--background", "stdin=/dev/null",
                                                      "stdout=/dev/null", "stderr=/dev/null", "session=own",
                                                      "token=none",       "startup=none"};

TEST_F(LauncherProgram, OpensTheApplicationInBackgroundWhenThereIsNoSessionBus) {
    const fs::path launcher = makeBundle(usualInfo());

    const Outcome result = launch(launcher, noBus);

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
    const auto seen = awaitMarker(marker);
    ASSERT_TRUE(seen.has_value()) << "the application was not started";
    EXPECT_EQ(*seen, kOpenedInBackground);
}

TEST_F(LauncherProgram, OpensTheApplicationWhenNobodyOwnsItsName) {
    PrivateBus bus(folder.path());
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    const fs::path launcher = makeBundle(usualInfo());

    const Outcome result = launch(launcher, bus.address());

    EXPECT_EQ(result.exitStatus, 0);
    const auto seen = awaitMarker(marker);
    ASSERT_TRUE(seen.has_value()) << "the application was not started";
    EXPECT_EQ(*seen, kOpenedInBackground);
}

TEST_F(LauncherProgram, OpensNothingWhenTheApplicationAlreadyRuns) {
    PrivateBus bus(folder.path());
    ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
    ASSERT_TRUE(bus.own(kIdentifier));
    const fs::path launcher = makeBundle(usualInfo());
    // Without its program the bundle cannot be opened: an attempt would end with status 4.
    fs::remove(bundle / "Contents/MacOS/Velmora");

    const Outcome result = launch(launcher, bus.address());

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output, "");
}

TEST_F(LauncherProgram, FindsItsBundleWhenStartedByNameThroughPath) {
    const fs::path launcher = makeBundle(usualInfo());
    auto env = environment(noBus);
    env[0] = "PATH=" + launcher.parent_path().string() + ":/usr/bin:/bin";

    const Outcome result = runProgram({"VelmoraBackground", {"VelmoraBackground"}, env, "/", true});

    EXPECT_EQ(result.exitStatus, 0);
    const auto seen = awaitMarker(marker);
    ASSERT_TRUE(seen.has_value()) << "the application was not started";
    EXPECT_EQ(*seen, kOpenedInBackground);
}

TEST_F(LauncherProgram, FindsItsBundleWhenStartedByARelativePath) {
    const fs::path launcher = makeBundle(usualInfo());

    const Outcome result =
        runProgram({"./VelmoraBackground", {"./VelmoraBackground"}, environment(noBus), launcher.parent_path()});

    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(awaitMarker(marker).has_value());
}

TEST_F(LauncherProgram, RefusesABundleItCannotUse) {
    const struct {
        const char* behaviour;
        std::map<std::string, std::string> info;
        fs::path launcherPlace;
        bool removeInfo;
    } cases[] = {
        // One level deeper the computed bundle is Velmora.app/Contents, which has no Info.plist.
        {"launcher one level deeper", usualInfo(), "Contents/MacOS/Helpers/VelmoraBackground", false},
        {"launcher one level higher", usualInfo(), "Contents/VelmoraBackground", false},
        {"bundle without identifier", {{"CFBundleExecutable", "Velmora"}}, "Contents/MacOS/VelmoraBackground", false},
        {"empty identifier",
         {{"CFBundleIdentifier", ""}, {"CFBundleExecutable", "Velmora"}},
         "Contents/MacOS/VelmoraBackground",
         false},
        {"Info.plist deleted", usualInfo(), "Contents/MacOS/VelmoraBackground", true},
    };
    for (const auto& c : cases) {
        fs::remove_all(bundle);
        const fs::path launcher = makeBundle(c.info, c.launcherPlace);
        if (c.removeInfo) {
            fs::remove(bundle / "Contents/Info.plist");
        }
        const Outcome result = launch(launcher, noBus);
        EXPECT_EQ(result.exitStatus, 2) << c.behaviour;
        EXPECT_EQ(result.output, "") << c.behaviour;
    }
    EXPECT_FALSE(fs::exists(marker)) << "an unusable bundle was opened";
}

TEST_F(LauncherProgram, ReportsAnOpeningFailureWhenTheApplicationCannotStart) {
    const struct {
        const char* behaviour;
        std::map<std::string, std::string> info;
        fs::perms permissions;
    } cases[] = {
        {"no CFBundleExecutable", {{"CFBundleIdentifier", kIdentifier}}, fs::perms(0755)},
        {"program not executable", usualInfo(), fs::perms(0644)},
    };
    for (const auto& c : cases) {
        fs::remove_all(bundle);
        const fs::path launcher = makeBundle(c.info);
        fs::permissions(bundle / "Contents/MacOS/Velmora", c.permissions);
        const Outcome result = launch(launcher, noBus);
        EXPECT_EQ(result.exitStatus, 4) << c.behaviour;
        EXPECT_EQ(result.output, "") << c.behaviour;
    }
}

}  // namespace
}  // namespace companion_test
