// The instance lock: one holder at a time, across processes, and never passed on to programs
// that the holder starts.
#include "platform/gtk/single_instance.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>

#include <filesystem>
#include <memory>
#include <string>

#include "temp_folder.h"

namespace gtk {
namespace {

using adapter_test::TempFolder;

// What flock(1) finds: 0 when it could take the lock at `path` itself, 7 when someone holds it.
int flockToolStatus(const std::string& path) {
    const char* argv[] = {"flock", "--nonblock", "--conflict-exit-code", "7", path.c_str(), "true", nullptr};
    int status = -1;
    if (!g_spawn_sync(nullptr, const_cast<char**>(argv), nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                      nullptr, &status, nullptr)) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(InstanceLock, OneHolderAtATime) {
    TempFolder folder;
    auto first = std::make_unique<InstanceLock>(folder / "app.lock");
    InstanceLock second(folder / "app.lock");
    EXPECT_TRUE(first->acquire());
    EXPECT_TRUE(first->acquire()) << "taking it again keeps it";
    EXPECT_FALSE(second.acquire());
    first.reset();
    EXPECT_TRUE(second.acquire()) << "released with its holder";
}

TEST(InstanceLock, OtherProcessesSeeTheLock) {
    TempFolder folder;
    const std::string path = folder / "app.lock";
    {
        InstanceLock lock(path);
        ASSERT_TRUE(lock.acquire());
        EXPECT_EQ(flockToolStatus(path), 7);
    }
    EXPECT_EQ(flockToolStatus(path), 0);
}

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
    int ignored = 0;
    waitpid(child, &ignored, 0);
    g_spawn_close_pid(child);
}

TEST(InstanceLock, TheRuntimeFolderIsCreated) {
    TempFolder folder;
    InstanceLock lock(folder / "runtime/app.lock");
    EXPECT_TRUE(lock.acquire());
    EXPECT_TRUE(std::filesystem::exists(folder / "runtime/app.lock"));
}

TEST(InstanceLock, ALockFileThatCannotBeOpenedDoesNotStopTheLaunch) {
    TempFolder folder;
    std::filesystem::create_directories(folder / "app.lock");
    InstanceLock lock(folder / "app.lock");
    EXPECT_TRUE(lock.acquire());
}

TEST(InstanceLock, LivesInTheUsersRuntimeFolder) {
    EXPECT_EQ(InstanceLock::defaultPath("fr.velmora.universal"),
              std::string(g_get_user_runtime_dir()) + "/fr.velmora.universal.lock");
}

}  // namespace
}  // namespace gtk
