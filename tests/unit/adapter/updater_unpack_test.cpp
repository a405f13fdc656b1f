#include "platform/gtk/updater/archive_unpack.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "temp_folder.h"
#include "updater_test_support.h"

namespace gtk {
namespace {

namespace fs = std::filesystem;
using adapter_test::ArchiveEntry;
using adapter_test::Bytes;
using adapter_test::file;
using adapter_test::folder;
using adapter_test::makeTarGz;
using adapter_test::readFile;
using adapter_test::TempFolder;

// Every path below `root`, relative to it, symbolic links included but not followed.
std::vector<std::string> treeOf(const std::string& root) {
    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.push_back(fs::relative(entry.path(), root).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(CleanEntryPath, KeepsRelativePathsAndRefusesEveryWayOut) {
    const struct {
        const char* path;
        std::optional<std::string> expected;
    } cases[] = {
        {"Velmora.app/Contents/Info.plist", "Velmora.app/Contents/Info.plist"},
        {"./Velmora.app//Contents/./MacOS/", "Velmora.app/Contents/MacOS"},
        {"./", ""},
        {".", ""},
        {"", std::nullopt},
        {"/etc/passwd", std::nullopt},
        {"../evil", std::nullopt},
        {"Velmora.app/../../evil", std::nullopt},
        {"Velmora.app/Contents/..", std::nullopt},
        {"..", std::nullopt},
        {"a..b/c..", "a..b/c.."},  // dots inside a name are a name
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.path);
        EXPECT_EQ(cleanEntryPath(testCase.path), testCase.expected);
    }
}

TEST(UnpackArchive, WritesTheTreeWithExecutableProgramsAndTamedPermissions) {
    TempFolder scratch;
    fs::create_directory(scratch / "into");
    const Bytes archive = makeTarGz({
        folder("./"),
        folder("Velmora.app"),
        file("Velmora.app/Contents/Info.plist", "<plist/>"),
        file("Velmora.app/Contents/MacOS/Velmora", "programme", 0755),
        file("Velmora.app/Contents/MacOS/setuid", "programme", 04777),
        adapter_test::symlink("Velmora.app/Contents/Current", "MacOS/Velmora"),
        adapter_test::hardlink("Velmora.app/Contents/Copy", "Velmora.app/Contents/Info.plist"),
    });
    ASSERT_EQ(unpackArchive(archive, scratch / "into"), std::nullopt);

    const std::string bundle = scratch / "into/Velmora.app";
    EXPECT_EQ(readFile(bundle + "/Contents/Info.plist"), "<plist/>");
    EXPECT_EQ(readFile(bundle + "/Contents/Copy"), "<plist/>");
    EXPECT_EQ(fs::read_symlink(bundle + "/Contents/Current"), "MacOS/Velmora");
    struct stat program {
    }, setuid{};
    ASSERT_EQ(stat((bundle + "/Contents/MacOS/Velmora").c_str(), &program), 0);
    EXPECT_EQ(program.st_mode & 07777, 0755u);
    ASSERT_EQ(stat((bundle + "/Contents/MacOS/setuid").c_str(), &setuid), 0);
    EXPECT_EQ(setuid.st_mode & 07777, 0755u) << "set-id bits and group or world write are dropped";
}

TEST(UnpackArchive, RefusesEntriesThatLeadOutOfTheFolder) {
    const struct {
        const char* behaviour;
        ArchiveEntry hostile;
        const char* shownPath;
    } cases[] = {
        {"a parent component", file("../evil", "x"), "../evil"},
        {"a parent component deeper down", file("Velmora.app/../../evil", "x"), "Velmora.app/../../evil"},
        {"an absolute path", file("/tmp/velmora-evil", "x"), "/tmp/velmora-evil"},
        {"a link to an absolute place", adapter_test::symlink("Velmora.app/passwd", "/etc/passwd"),
         "Velmora.app/passwd"},
        {"a link that climbs out", adapter_test::symlink("Velmora.app/up", "../../.."), "Velmora.app/up"},
        {"a link that climbs, even to come back", adapter_test::symlink("Velmora.app/back", "../Velmora.app"),
         "Velmora.app/back"},
        {"a hard link to a file outside", adapter_test::hardlink("Velmora.app/shadow", "../../../etc/shadow"),
         "../../../etc/shadow"},
        {"a hard link to an absolute file", adapter_test::hardlink("Velmora.app/shadow", "/etc/shadow"), "/etc/shadow"},
        {"a named pipe", adapter_test::fifo("Velmora.app/pipe"), "Velmora.app/pipe"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder scratch;
        fs::create_directories(scratch / "parent/into");
        const Bytes archive = makeTarGz(
            {folder("Velmora.app"), file("Velmora.app/a", "a"), testCase.hostile, file("Velmora.app/z", "after")});
        EXPECT_EQ(unpackArchive(archive, scratch / "parent/into"),
                  std::string("l’archive contient un chemin interdit : ") + testCase.shownPath);
        // Nothing lands beside the destination, and the unpacking stopped at the hostile entry.
        EXPECT_EQ(treeOf(scratch / "parent"),
                  (std::vector<std::string>{"into", "into/Velmora.app", "into/Velmora.app/a"}));
    }
    EXPECT_FALSE(fs::exists("/tmp/velmora-evil"));
}

TEST(UnpackArchive, AWriteThroughALinkOfTheArchiveIsRefused) {
    TempFolder scratch;
    fs::create_directories(scratch / "parent/into");
    // The link itself points inside, but an entry below it would be written wherever the link
    // leads once it is on disk.
    const Bytes archive = makeTarGz({folder("Velmora.app"), adapter_test::symlink("Velmora.app/Lien", "Contents"),
                                     folder("Velmora.app/Contents"), file("Velmora.app/Lien/x", "x")});
    EXPECT_EQ(unpackArchive(archive, scratch / "parent/into"), "les fichiers de l’archive n’ont pas pu être écrits.");
    EXPECT_FALSE(fs::exists(scratch / "parent/into/Velmora.app/Contents/x"));
}

TEST(UnpackArchive, DamagedArchivesFail) {
    // A program that does not compress, so that cutting the archive in half cuts into it
    // rather than into the zero blocks at the end.
    auto entries = adapter_test::bundleEntries("101");
    std::string noise(64 * 1024, '\0');
    std::uint32_t state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    entries.push_back(file("Velmora.app/Contents/MacOS/Programme", noise, 0755));
    const Bytes good = makeTarGz(entries);
    Bytes truncated(good.begin(), good.begin() + static_cast<long>(good.size() / 2));
    Bytes corrupted = good;
    for (size_t i = 40; i < 80 && i < corrupted.size(); ++i) corrupted[i] = static_cast<std::uint8_t>(~corrupted[i]);
    const struct {
        const char* behaviour;
        Bytes archive;
    } cases[] = {
        {"an archive cut off", truncated},
        {"compressed data damaged", corrupted},
        {"something that is no archive at all", Bytes{'n', 'o', 'n'}},
        {"nothing", Bytes{}},
        {"an archive without entries", makeTarGz({})},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder scratch;
        fs::create_directory(scratch / "into");
        EXPECT_EQ(unpackArchive(testCase.archive, scratch / "into"), "l’archive est endommagée ou incomplète.");
    }
}

}  // namespace
}  // namespace gtk
