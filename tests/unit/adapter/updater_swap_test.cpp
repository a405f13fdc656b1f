#include "platform/gtk/updater/bundle_swap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <variant>
#include <vector>

#include "platform/gtk/updater/update_install.h"
#include "temp_folder.h"
#include "updater_test_support.h"

namespace gtk {
namespace {

namespace fs = std::filesystem;
using adapter_test::Bytes;
using adapter_test::infoPlist;
using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;

// A bundle folder of this build with its two programs.
void makeBundle(const std::string& path, const std::string& build) {
    writeFile(path + "/Contents/Info.plist", infoPlist(build));
    for (const char* program : {"Velmora", "VelmoraRelaunch"}) {
        const std::string programPath = path + "/Contents/MacOS/" + program;
        writeFile(programPath, "#!/bin/sh\n");
        fs::permissions(programPath, fs::perms::owner_all);
    }
}

std::string buildAt(const std::string& bundle) { return readFile(bundle + "/Contents/Info.plist"); }

// rename(2), except that the calls numbered in `failing` (from 1) fail with EIO.
struct FlakyRename {
    std::vector<int> failing;
    int calls = 0;
    int operator()(const std::string& from, const std::string& to) {
        ++calls;
        if (std::find(failing.begin(), failing.end(), calls) != failing.end()) return EIO;
        return BundleSwap::systemRename(from, to);
    }
};

struct SwapFolders {
    TempFolder scratch;
    std::string installed = scratch / "Velmora.app";
    std::string replacement = scratch / ".Velmora.app.update-42/Velmora.app";
    std::string aside = scratch / "Velmora.app.old-42";

    SwapFolders() {
        makeBundle(installed, "100");
        makeBundle(replacement, "101");
    }
};

TEST(BundleSwap, PutsTheNewBundleInPlaceAndTheOldOneAside) {
    SwapFolders folders;
    BundleSwap swap(folders.installed, folders.replacement, folders.aside);
    ASSERT_EQ(swap.perform(), std::nullopt);
    EXPECT_EQ(buildAt(folders.installed), infoPlist("101"));
    EXPECT_EQ(buildAt(folders.aside), infoPlist("100"));
    EXPECT_FALSE(fs::exists(folders.replacement));

    ASSERT_EQ(swap.revert(), std::nullopt);
    EXPECT_EQ(buildAt(folders.installed), infoPlist("100"));
    EXPECT_EQ(buildAt(folders.replacement), infoPlist("101"));
    EXPECT_FALSE(fs::exists(folders.aside));
}

TEST(BundleSwap, AFailureAtEitherRenameLeavesTheOldBundleInPlace) {
    const struct {
        const char* behaviour;
        std::vector<int> failing;
    } cases[] = {
        {"moving the old bundle aside fails", {1}},
        {"moving the new bundle in fails, the old one comes back", {2}},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        SwapFolders folders;
        FlakyRename rename{testCase.failing};
        BundleSwap swap(folders.installed, folders.replacement, folders.aside, std::ref(rename));
        const auto failure = swap.perform();
        ASSERT_TRUE(failure.has_value());
        EXPECT_EQ(failure->rfind("l’application n’a pas pu être remplacée (", 0), 0u) << *failure;
        EXPECT_EQ(buildAt(folders.installed), infoPlist("100"));
        EXPECT_TRUE(fs::exists(folders.installed + "/Contents/MacOS/Velmora"));
        EXPECT_EQ(buildAt(folders.replacement), infoPlist("101"));
        EXPECT_FALSE(fs::exists(folders.aside));
        // Nothing was swapped, so there is nothing to undo.
        EXPECT_EQ(swap.revert(), std::nullopt);
        EXPECT_EQ(buildAt(folders.installed), infoPlist("100"));
    }
}

TEST(BundleSwap, ARevertThatCannotFinishKeepsABundleInPlace) {
    SwapFolders folders;
    FlakyRename rename{{4}};
    BundleSwap swap(folders.installed, folders.replacement, folders.aside, std::ref(rename));
    ASSERT_EQ(swap.perform(), std::nullopt);
    EXPECT_TRUE(swap.revert().has_value());
    EXPECT_EQ(buildAt(folders.installed), infoPlist("101"));
    EXPECT_EQ(buildAt(folders.aside), infoPlist("100"));
}

RunningCopy runningCopyIn(const TempFolder& scratch) {
    return {scratch / "Velmora.app", "100", "fr.velmora.universal", 4242};
}

TEST(StageUpdate, UnpacksASignedNewerBundleNextToTheRunningOne) {
    TempFolder scratch;
    makeBundle(scratch / "Velmora.app", "100");
    const adapter_test::KeyPair keys;
    const Bytes archive = adapter_test::makeTarGz(adapter_test::bundleEntries("101"));
    const auto staged =
        stageUpdate(archive, adapter_test::signedFeed(archive, keys), keys.publicKey, runningCopyIn(scratch));
    ASSERT_TRUE(std::holds_alternative<StagedUpdate>(staged)) << std::get<std::string>(staged);
    const auto& update = std::get<StagedUpdate>(staged);
    EXPECT_EQ(update.folder, scratch / ".Velmora.app.update-4242");
    EXPECT_EQ(update.bundlePath, scratch / ".Velmora.app.update-4242/Velmora.app");
    EXPECT_EQ(buildAt(update.bundlePath), infoPlist("101"));
    EXPECT_EQ(buildAt(scratch / "Velmora.app"), infoPlist("100"));
}

TEST(StageUpdate, EveryRefusalLeavesOnlyTheRunningBundle) {
    using adapter_test::ArchiveEntry;
    auto without = [](const char* path) {
        auto entries = adapter_test::bundleEntries("101");
        std::erase_if(entries, [&](const ArchiveEntry& entry) { return entry.path == path; });
        return entries;
    };
    auto with = [](std::vector<ArchiveEntry> extra, const std::string& build = "101") {
        auto entries = adapter_test::bundleEntries(build);
        entries.insert(entries.end(), extra.begin(), extra.end());
        return entries;
    };
    auto replacingInfo = [](const std::string& plist) {
        auto entries = adapter_test::bundleEntries("101");
        for (auto& entry : entries)
            if (entry.path == "Velmora.app/Contents/Info.plist") entry.content = plist;
        return entries;
    };
    const struct {
        const char* behaviour;
        std::vector<ArchiveEntry> entries;
        const char* expected;
    } cases[] = {
        {"a traversal entry after the bundle", with({adapter_test::file("../evil", "x")}),
         "l’archive contient un chemin interdit : ../evil"},
        {"the same build as the running one", adapter_test::bundleEntries("100"),
         "l’archive ne contient pas une version plus récente."},
        {"an older build", adapter_test::bundleEntries("99"), "l’archive ne contient pas une version plus récente."},
        {"another application", replacingInfo(infoPlist("101", "fr.exemple.autre")),
         "l’archive contient une autre application."},
        {"no relaunch helper", without("Velmora.app/Contents/MacOS/VelmoraRelaunch"),
         "l’archive ne contient pas d’application Velmóra utilisable."},
        {"no Info.plist", without("Velmora.app/Contents/Info.plist"),
         "l’archive ne contient pas d’application Velmóra utilisable."},
        {"an unreadable Info.plist", replacingInfo("<plist><dict>"),
         "l’archive ne contient pas d’application Velmóra utilisable."},
        {"the bundle under another name",
         {adapter_test::folder("Velmora 2.app"),
          adapter_test::file("Velmora 2.app/Contents/Info.plist", infoPlist("101"))},
         "l’archive ne contient pas d’application Velmóra utilisable."},
        {"the bundle as a link to a folder of the archive",
         {adapter_test::folder("vrai"), adapter_test::file("vrai/Contents/Info.plist", infoPlist("101")),
          adapter_test::file("vrai/Contents/MacOS/Velmora", "x", 0755),
          adapter_test::file("vrai/Contents/MacOS/VelmoraRelaunch", "x", 0755),
          adapter_test::symlink("Velmora.app", "vrai")},
         "l’archive ne contient pas d’application Velmóra utilisable."},
    };
    const adapter_test::KeyPair keys;
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder scratch;
        makeBundle(scratch / "Velmora.app", "100");
        const Bytes archive = adapter_test::makeTarGz(testCase.entries);
        const auto staged =
            stageUpdate(archive, adapter_test::signedFeed(archive, keys), keys.publicKey, runningCopyIn(scratch));
        ASSERT_TRUE(std::holds_alternative<std::string>(staged));
        EXPECT_EQ(std::get<std::string>(staged), testCase.expected);
        EXPECT_EQ(buildAt(scratch / "Velmora.app"), infoPlist("100"));
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(scratch.path)) left.push_back(entry.path().filename());
        EXPECT_EQ(left, std::vector<std::string>{"Velmora.app"});
    }
}

TEST(StageUpdate, ABadSignatureStopsBeforeAnythingIsWritten) {
    TempFolder scratch;
    makeBundle(scratch / "Velmora.app", "100");
    const adapter_test::KeyPair keys, otherKeys;
    const Bytes archive = adapter_test::makeTarGz(adapter_test::bundleEntries("101"));
    const auto staged =
        stageUpdate(archive, adapter_test::signedFeed(archive, otherKeys), keys.publicKey, runningCopyIn(scratch));
    ASSERT_TRUE(std::holds_alternative<std::string>(staged));
    EXPECT_EQ(std::get<std::string>(staged), "la signature de l’archive n’est pas valable.");
    EXPECT_FALSE(fs::exists(scratch / ".Velmora.app.update-4242"));
}

TEST(RemoveLeftovers, RemovesWhatEndedProcessesLeftAndNothingElse) {
    TempFolder scratch;
    makeBundle(scratch / "Velmora.app", "101");
    // A child that has been waited for: its identifier belongs to no process now.
    const pid_t ended = fork();
    if (ended == 0) _exit(0);
    ASSERT_GT(ended, 0);
    ASSERT_EQ(waitpid(ended, nullptr, 0), ended);
    const std::string endedId = std::to_string(ended), livingId = std::to_string(getppid());
    for (const std::string& name :
         {".Velmora.app.update-" + endedId, "Velmora.app.old-" + endedId, ".Velmora.app.update-" + livingId,
          "Velmora.app.old-" + livingId, std::string("Velmora.app.old-abc"), std::string("Autre.app.old-") + endedId,
          std::string("Velmora.app.old-4242")})
        makeBundle(scratch / name, "100");

    removeLeftovers(scratch / "Velmora.app", 4242);

    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(scratch.path)) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    std::vector<std::string> expected{".Velmora.app.update-" + livingId, "Autre.app.old-" + endedId, "Velmora.app",
                                      "Velmora.app.old-" + livingId, "Velmora.app.old-abc"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(left, expected);
}

}  // namespace
}  // namespace gtk
