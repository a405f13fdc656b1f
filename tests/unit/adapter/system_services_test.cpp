#include "platform/gtk/system_services.h"

#include "temp_folder.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace gtk {
namespace {

using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;
using namespace std::string_literals;
namespace fs = std::filesystem;

std::vector<std::uint8_t> bytesOf(const std::string& text) { return {text.begin(), text.end()}; }

// The content of the file at `path` once it appears, waiting at most two seconds for it.
std::optional<std::string> awaitFile(const std::string& path) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (fs::exists(path)) {
            return readFile(path);
        }
        g_usleep(10'000);
    }
    return std::nullopt;
}

TEST(LocalFiles, ReadsWholeRegularFilesOnly) {
    TempFolder folder;
    const std::string binary = "\x00\x01\xff\n\r\x00"s + std::string(100'000, 'v');
    writeFile(folder / "binaire", binary);
    writeFile(folder / "vide", "");
    fs::create_directory(folder / "dossier");

    const struct {
        const char* behaviour;
        std::string path;
        std::optional<std::vector<std::uint8_t>> expected;
    } cases[] = {
        {"binary content comes back whole", folder / "binaire", bytesOf(binary)},
        {"an empty file is empty content, not a failure", folder / "vide", std::vector<std::uint8_t>{}},
        {"a missing file cannot be read", folder / "absent", std::nullopt},
        {"a folder cannot be read", folder / "dossier", std::nullopt},
    };
    const LocalFiles files;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        EXPECT_EQ(files.read(testCase.path), testCase.expected);
    }
}

TEST(LocalFiles, TellsExecutableRegularFiles) {
    TempFolder folder;
    writeFile(folder / "programme", "#!/bin/sh\n");
    fs::permissions(folder / "programme", fs::perms(0755));
    writeFile(folder / "texte", "#!/bin/sh\n");
    fs::permissions(folder / "texte", fs::perms(0644));
    fs::create_directory(folder / "dossier");
    fs::permissions(folder / "dossier", fs::perms(0755));
    fs::create_symlink(folder / "programme", folder / "lien");
    fs::create_symlink(folder / "absent", folder / "lien-casse");

    const struct {
        const char* behaviour;
        std::string path;
        bool expected;
    } cases[] = {
        {"an executable file", folder / "programme", true},
        {"a file without execute permission", folder / "texte", false},
        {"a searchable folder", folder / "dossier", false},
        {"a link to an executable file", folder / "lien", true},
        {"a dangling link", folder / "lien-casse", false},
        {"a missing file", folder / "absent", false},
        {"an empty path", "", false},
    };
    const LocalFiles files;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        EXPECT_EQ(files.isExecutableFile(testCase.path), testCase.expected);
    }
}

TEST(DetachedProcesses, ReportsThisProcess) { EXPECT_EQ(DetachedProcesses().processIdentifier(), getpid()); }

TEST(DetachedProcesses, LaunchedProgramIsNeverOurChild) {
    DetachedProcesses processes;
    EXPECT_EQ(processes.launch("/bin/true", {}), std::nullopt);
    // Not a child at all, so it can never linger as a zombie of this process.
    errno = 0;
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(DetachedProcesses, PassesArgumentsUnchangedAndRunsInItsOwnSession) {
    TempFolder folder;
    const std::string script =
        "printf '%s|' \"$@\" > \"$0.tmp\"; cut -d' ' -f6 /proc/$$/stat >> \"$0.tmp\"; "
        "mv \"$0.tmp\" \"$0\"";
    DetachedProcesses processes;
    ASSERT_EQ(processes.launch("/bin/sh", {"-c", script, folder / "sortie", "a b", "c;d", "", "é*", "$HOME"}),
              std::nullopt);

    const auto output = awaitFile(folder / "sortie");
    ASSERT_TRUE(output.has_value());
    const std::string arguments = "a b|c;d||é*|$HOME|";
    ASSERT_EQ(output->substr(0, arguments.size()), arguments);
    // The sixth field of /proc/<pid>/stat is the session the program runs in.
    EXPECT_NE(std::stol(output->substr(arguments.size())), static_cast<long>(getsid(0))) << *output;
}

TEST(DetachedProcesses, FailureToStartGivesTheSystemsErrorText) {
    TempFolder folder;
    writeFile(folder / "texte", "#!/bin/sh\n");
    fs::permissions(folder / "texte", fs::perms(0644));
    fs::create_directory(folder / "dossier");

    const struct {
        const char* behaviour;
        std::string executable;
    } cases[] = {
        {"missing program", folder / "absent"},
        {"file without execute permission", folder / "texte"},
        {"folder", folder / "dossier"},
    };
    DetachedProcesses processes;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        const auto error = processes.launch(testCase.executable, {"--argument"});
        ASSERT_TRUE(error.has_value());
        EXPECT_NE(error->find(testCase.executable), std::string::npos) << *error;
    }
}

TEST(SystemLog, WritesLinesThatLookLikeFormats) {
    // A line used as a format would read arguments that were never passed, or write through %n.
    SystemLog log;
    SystemLog second;
    log.write("100 % sûr : %s%s%s%s%s%s%s%s%s%s%s%s%s%s%s%s %n %x %%");
    second.write("");
}

}  // namespace
}  // namespace gtk
