// The updater's side without a main loop: the signed feed and the settings it is read with, the
// schedule of its checks, the archive's check, its unpacking (hostile archives included), the
// swap of the bundles and the leftovers of earlier runs.
#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>
#include <json-glib/json-glib.h>
#include <sodium.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/gtk/updater/archive_check.h"
#include "platform/gtk/updater/archive_unpack.h"
#include "platform/gtk/updater/update_feed.h"
#include "platform/gtk/updater/update_install.h"
#include "platform/gtk/updater/update_schedule.h"
#include "platform/gtk/updater/update_settings.h"
#include "temp_folder.h"

namespace gtk {
namespace {

namespace fs = std::filesystem;
using adapter_test::namesIn;
using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;
using Bytes = std::vector<std::uint8_t>;
using Strings = std::vector<std::string>;

// ---- Archives, keys and feeds made up in memory ----

struct Entry {
    std::string path;
    mode_t type = AE_IFREG;  // AE_IFREG, AE_IFDIR, AE_IFLNK, AE_IFIFO; a hard link is AE_IFREG with a link
    std::string content;     // a file's bytes
    std::string link;        // a link's target
    int mode = 0644;
};

Entry file(std::string path, std::string content, int mode = 0644) {
    return {std::move(path), AE_IFREG, std::move(content), {}, mode};
}
Entry folder(std::string path) { return {std::move(path), AE_IFDIR, {}, {}, 0755}; }
Entry symlink(std::string path, std::string target) { return {std::move(path), AE_IFLNK, {}, std::move(target), 0777}; }
Entry hardlink(std::string path, std::string target) { return {std::move(path), AE_IFREG, {}, std::move(target)}; }

// A gzip-compressed tar archive holding exactly `entries`, in order, with their paths as given:
// libarchive's writer does not clean them, so hostile archives can be made too.
Bytes makeTarGz(const std::vector<Entry>& entries) {
    Bytes out;
    struct archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_gzip(writer);
    const auto append = [](struct archive*, void* data, const void* buffer, size_t length) -> la_ssize_t {
        const auto* begin = static_cast<const std::uint8_t*>(buffer);
        static_cast<Bytes*>(data)->insert(static_cast<Bytes*>(data)->end(), begin, begin + length);
        return static_cast<la_ssize_t>(length);
    };
    if (archive_write_open(writer, &out, nullptr, append, nullptr) != ARCHIVE_OK) throw std::runtime_error("open");
    for (const auto& entry : entries) {
        struct archive_entry* header = archive_entry_new();
        archive_entry_set_pathname(header, entry.path.c_str());
        archive_entry_set_perm(header, static_cast<mode_t>(entry.mode));
        archive_entry_set_mtime(header, 1'700'000'000, 0);
        archive_entry_set_filetype(header, entry.type);
        if (entry.type == AE_IFREG && entry.link.empty())
            archive_entry_set_size(header, static_cast<la_int64_t>(entry.content.size()));
        if (entry.type == AE_IFLNK) archive_entry_set_symlink(header, entry.link.c_str());
        if (entry.type == AE_IFREG && !entry.link.empty()) archive_entry_set_hardlink(header, entry.link.c_str());
        if (archive_write_header(writer, header) != ARCHIVE_OK) throw std::runtime_error(archive_error_string(writer));
        if (!entry.content.empty()) archive_write_data(writer, entry.content.data(), entry.content.size());
        archive_entry_free(header);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

std::string infoPlist(const std::string& build, const std::string& identifier = "fr.velmora.universal") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>CFBundleIdentifier</key>"
           "<string>" +
           identifier +
           "</string><key>CFBundleExecutable</key><string>Velmora</string><key>CFBundleVersion</key><string>" + build +
           "</string></dict></plist>\n";
}

// The entries of a complete bundle "Velmora.app" of this build.
std::vector<Entry> bundleEntries(const std::string& build) {
    return {folder("Velmora.app"), file("Velmora.app/Contents/Info.plist", infoPlist(build)),
            file("Velmora.app/Contents/MacOS/Velmora", "#!/bin/sh\nexit 0\n", 0755),
            file("Velmora.app/Contents/MacOS/VelmoraRelaunch", "#!/bin/sh\nexit 0\n", 0755)};
}

// The size and digest an offer announces for `archive`.
UpdateFeed offerFor(const Bytes& archive) {
    UpdateFeed feed;
    feed.version = "1.1.0";
    feed.build = "101";
    feed.archiveUrl = "https://velmora.fr/mises-a-jour/Velmora-101.tar.gz";
    feed.size = archive.size();
    crypto_hash_sha256(feed.sha256.data(), archive.data(), archive.size());
    return feed;
}

// Every path below `root`, relative to it and sorted, links included but not followed.
Strings treeOf(const std::string& root) {
    Strings paths;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        paths.push_back(fs::relative(entry.path(), root).string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

// ---- The feed ----

struct KeyPair {
    UpdatePublicKey publicKey{};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secretKey{};
    KeyPair() {
        if (sodium_init() < 0) throw std::runtime_error("sodium_init");
        crypto_sign_keypair(publicKey.data(), secretKey.data());
    }

    // The Base64 signature of `text`'s bytes.
    std::string sign(const std::string& text) const {
        std::array<std::uint8_t, crypto_sign_BYTES> signature{};
        crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                             secretKey.data());
        g_autofree char* encoded = g_base64_encode(signature.data(), signature.size());
        return encoded;
    }
};

using Members = std::vector<std::pair<std::string, std::string>>;

// A JSON object of these members, their values given as raw JSON.
std::string jsonObject(const Members& members) {
    std::string object;
    for (const auto& [name, json] : members) {
        object.append(object.empty() ? "{\"" : ", \"").append(name).append("\": ").append(json);
    }
    return object + "}";
}

// An offer's text with `member` replaced by `value` (raw JSON), or left out when `value` is null.
std::string offerWith(const std::string& member = "", const char* value = nullptr) {
    const Members members = {
        {"version", "\"1.1.0\""},
        {"build", "\"101\""},
        {"archive", "\"https://velmora.fr/mises-a-jour/Velmora-101.tar.gz\""},
        {"size", "123456"},
        {"sha256", "\"00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF\""},
        {"notes", "\"Corrections et améliorations.\""},
    };
    Members chosen;
    for (const auto& [name, json] : members) {
        if (name != member) chosen.emplace_back(name, json);
        if (name == member && value) chosen.emplace_back(name, value);
    }
    return jsonObject(chosen);
}

// `text` as a JSON string.
std::string jsonString(const std::string& text) {
    g_autoptr(JsonNode) node = json_node_init_string(json_node_alloc(), text.c_str());
    g_autofree char* json = json_to_string(node, FALSE);
    return json;
}

// The feed document that carries `offer` with its signature by `keys`.
std::string signedFeed(const std::string& offer, const KeyPair& keys) {
    return jsonObject({{"offer", jsonString(offer)}, {"signature", jsonString(keys.sign(offer))}});
}

TEST(UpdateFeed, ReadsEveryMemberOfASignedOffer) {
    const KeyPair keys;
    const auto parsed = readSignedFeed(signedFeed(offerWith(), keys), keys.publicKey);
    ASSERT_TRUE(std::holds_alternative<UpdateFeed>(parsed)) << std::get<std::string>(parsed);
    const auto& feed = std::get<UpdateFeed>(parsed);
    EXPECT_EQ(feed.version, "1.1.0");
    EXPECT_EQ(feed.build, "101");
    EXPECT_EQ(feed.archiveUrl, "https://velmora.fr/mises-a-jour/Velmora-101.tar.gz");
    EXPECT_EQ(feed.size, 123456u);
    EXPECT_EQ(feed.sha256[0], 0x00);
    EXPECT_EQ(feed.sha256[31], 0xff);  // upper-case hex digits read too
    EXPECT_EQ(feed.notes, "Corrections et améliorations.");
    const auto withoutNotes = readSignedFeed(signedFeed(offerWith("notes", nullptr), keys), keys.publicKey);
    ASSERT_TRUE(std::holds_alternative<UpdateFeed>(withoutNotes));
    EXPECT_EQ(std::get<UpdateFeed>(withoutNotes).notes, "");
}

TEST(UpdateFeed, OffersNothingThatIsNotExactlyWhatTheBundlesKeySigned) {
    const KeyPair keys, otherKeys;
    const std::string offer = offerWith();
    const std::string signature = jsonString(keys.sign(offer));
    const std::string notSigned = "la description de la mise à jour n’est pas signée correctement.";
    const std::string unreadable = "la description de la mise à jour est illisible.";
    const struct {
        const char* behaviour;
        std::string document;
        std::optional<std::string> refusal;
        const UpdatePublicKey* key = nullptr;  // the bundle's, unless given
    } cases[] = {
        {"as signed", signedFeed(offer, keys), std::nullopt},
        {"the offer's text written with escapes: its bytes are what was signed",
         jsonObject({{"offer", jsonString(offer).replace(jsonString(offer).find("é"), 2, "\\u00e9")},
                     {"signature", signature}}),
         std::nullopt},
        {"the notes changed after signing",
         jsonObject({{"offer", jsonString(offerWith("notes", "\"Mise à jour urgente : installez-la.\""))},
                     {"signature", signature}}),
         notSigned},
        {"the build changed after signing",
         jsonObject({{"offer", jsonString(offerWith("build", "\"999\""))}, {"signature", signature}}), notSigned},
        {"the archive's address changed after signing",
         jsonObject({{"offer", jsonString(offerWith("archive", "\"https://autre-site.example/Velmora.tar.gz\""))},
                     {"signature", signature}}),
         notSigned},
        {"a space added, the same JSON in other bytes",
         jsonObject({{"offer", jsonString(" " + offer)}, {"signature", signature}}), notSigned},
        {"signed with another key", signedFeed(offer, otherKeys), notSigned},
        {"checked against another key", signedFeed(offer, keys), notSigned, &otherKeys.publicKey},
        {"a signature of 63 bytes",
         jsonObject({{"offer", jsonString(offer)}, {"signature", jsonString(std::string(84, 'A'))}}), notSigned},
        {"a signature that is no Base64",
         jsonObject({{"offer", jsonString(offer)}, {"signature", "\"signé par nous\""}}), notSigned},
        {"no signature", jsonObject({{"offer", jsonString(offer)}}), notSigned},
        {"the offer as an object, its text signed", jsonObject({{"offer", offer}, {"signature", signature}}),
         notSigned},
        {"a feed of the former kind, signing only the archive",
         offer.substr(0, offer.size() - 1) + ", \"signature\": " + signature + "}", notSigned},
        {"a signed text that is no JSON", signedFeed("version 1.1.0", keys), unreadable},
        {"a signed array", signedFeed("[" + offer + "]", keys), unreadable},
        {"no JSON at all", "<!doctype html><p>Erreur</p>", unreadable},
        {"cut short", signedFeed(offer, keys).substr(0, 60), unreadable},
        {"empty", "", unreadable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        const auto parsed = readSignedFeed(c.document, c.key ? *c.key : keys.publicKey);
        if (!c.refusal) {
            ASSERT_TRUE(std::holds_alternative<UpdateFeed>(parsed)) << std::get<std::string>(parsed);
            EXPECT_EQ(std::get<UpdateFeed>(parsed).notes, "Corrections et améliorations.");
        } else {
            ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
            EXPECT_EQ(std::get<std::string>(parsed), *c.refusal);
        }
    }
}

TEST(UpdateFeed, RefusesEveryMalformedMemberOfASignedOfferAndNamesIt) {
    const KeyPair keys;
    const struct {
        const char* member;
        const char* value;  // nullptr: left out
    } cases[] = {
        {"version", nullptr},
        {"version", "\"\""},
        {"build", "101"},  // a number, whose text would be guessed
        {"build", nullptr},
        {"archive", "\"http://velmora.fr/Velmora-101.tar.gz\""},
        {"archive", "\"https:///Velmora.tar.gz\""},
        {"archive", "\"Velmora-101.tar.gz\""},
        {"size", "12.5"},
        {"size", "\"123456\""},
        {"size", "0"},
        {"size", "-4"},
        {"size", "600000000"},  // beyond the largest archive
        {"sha256", "\"00112233445566778899aabbccddeeff00112233445566778899aabbccddeef\""},
        {"sha256", "\"g0112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\""},
        {"sha256", nullptr},
        {"notes", "[\"a\"]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.member) + " = " + (c.value ? c.value : "absent"));
        const auto parsed = readSignedFeed(signedFeed(offerWith(c.member, c.value), keys), keys.publicKey);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
        EXPECT_EQ(std::get<std::string>(parsed),
                  std::string("la description de la mise à jour est invalide (champ « ") + c.member + " »).");
    }
}

TEST(UpdaterSettings, TakesOnlyUsableValuesFromTheInfoDictionary) {
    const auto from = [](std::map<std::string, std::string> strings, std::map<std::string, bool> booleans = {}) {
        return updaterSettingsFrom({std::move(strings), std::move(booleans), {}});
    };
    const std::string feed = "https://velmora.fr/mises-a-jour/linux.json";
    EXPECT_EQ(from({{"SUFeedURL", feed}}).feedUrl, feed);
    // A feed over plain HTTP counts as none; an unconfigured build writes empty values.
    for (const char* other : {"http://velmora.fr/linux.json", "https:///linux.json", ""})
        EXPECT_EQ(from({{"SUFeedURL", other}}).feedUrl, std::nullopt) << other;
    EXPECT_NE(from({{"SUPublicEDKey", "Y2hlY2tlZC1rZXktb2YtdGhpcnR5LXR3by1ieXRlcyE="}}).publicKey, std::nullopt);
    for (const char* other : {"c2hvcnQ=", "Y2hlY2tlZC1rZXktb2YtdGhpcnR5\nLXR3by1ieXRlcyE=", ""})
        EXPECT_EQ(from({{"SUPublicEDKey", other}}).publicKey, std::nullopt) << other;
    EXPECT_TRUE(from({}, {{"SUEnableAutomaticChecks", true}}).automaticChecks);
    EXPECT_FALSE(from({}, {{"SUEnableAutomaticChecks", false}}).automaticChecks);
    EXPECT_FALSE(from({}).automaticChecks) << "off unless switched on";
}

// ---- The schedule ----

TEST(UpdateSchedule, ChecksAboutOnceADayAndAfterASleepOrAClockSetBack) {
    constexpr std::int64_t kNow = 1'750'000'000, kHour = 3600, kDay = 24 * kHour;
    const struct {
        double random;
        std::int64_t due;
    } next[] = {
        {0.0, kNow + 22 * kHour},  {0.25, kNow + 23 * kHour},
        {0.5, kNow + 24 * kHour},  {1.0, kNow + 26 * kHour},
        {-3.0, kNow + 22 * kHour},  // out of range: held to the spread
        {7.0, kNow + 26 * kHour},  {std::numeric_limits<double>::quiet_NaN(), kNow + 24 * kHour},
    };
    for (const auto& c : next) EXPECT_EQ(nextCheckDue(kNow, c.random), c.due) << c.random;

    const std::int64_t due = kNow + 24 * kHour;
    const struct {
        const char* when;
        std::int64_t now;
        bool checks;
    } ticks[] = {
        {"an hour after the last check", kNow + kHour, false},
        {"a second before it is due", due - 1, false},
        {"when it is due", due, true},
        {"an hour late", due + kHour, true},
        {"after a week asleep", due + 7 * kDay, true},
        {"the clock set back by an hour", kNow - kHour, false},
        {"the clock set back by three hours", kNow - 3 * kHour, true},
        {"the clock set back by a year", kNow - 365 * kDay, true},
    };
    for (const auto& c : ticks) EXPECT_EQ(checkIsDue(c.now, due), c.checks) << c.when;
}

// ---- The archive ----

TEST(ArchiveCheck, AcceptsOnlyTheArchiveOfTheSignedSizeAndDigest) {
    const Bytes archive = makeTarGz(bundleEntries("101"));
    const std::string digest = "l’empreinte de l’archive ne correspond pas à celle annoncée.";
    const std::string size = "la taille de l’archive ne correspond pas à celle annoncée.";
    const struct {
        const char* behaviour;
        std::function<void(Bytes&)> change;
        std::optional<std::string> expected;
    } cases[] = {
        {"as announced", [](Bytes&) {}, std::nullopt},
        {"one byte changed", [](Bytes& bytes) { bytes[bytes.size() / 2] ^= 1; }, digest},
        {"the last byte changed", [](Bytes& bytes) { bytes.back() ^= 0x80; }, digest},
        {"another archive of the same size", [](Bytes& bytes) { std::reverse(bytes.begin(), bytes.end()); }, digest},
        {"a byte more", [](Bytes& bytes) { bytes.push_back(0); }, size},
        {"cut short", [](Bytes& bytes) { bytes.resize(bytes.size() - 10); }, size},
        {"nothing", [](Bytes& bytes) { bytes.clear(); }, size},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        Bytes bytes = archive;
        c.change(bytes);
        EXPECT_EQ(checkArchive(bytes, offerFor(archive)), c.expected);
    }
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
        {"a..b/c..", "a..b/c.."},  // dots inside a name are a name
        {"", std::nullopt},
        {"/etc/passwd", std::nullopt},
        {"../evil", std::nullopt},
        {"Velmora.app/../../evil", std::nullopt},
        {"Velmora.app/Contents/..", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(cleanEntryPath(c.path), c.expected) << c.path;
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
        symlink("Velmora.app/Contents/Current", "MacOS/Velmora"),
        hardlink("Velmora.app/Contents/Copy", "Velmora.app/Contents/Info.plist"),
    });
    ASSERT_EQ(unpackArchive(archive, scratch / "into"), std::nullopt);
    const std::string bundle = scratch / "into/Velmora.app";
    EXPECT_EQ(readFile(bundle + "/Contents/Info.plist"), "<plist/>");
    EXPECT_EQ(readFile(bundle + "/Contents/Copy"), "<plist/>");
    EXPECT_EQ(fs::read_symlink(bundle + "/Contents/Current"), "MacOS/Velmora");
    for (const char* program : {"Velmora", "setuid"}) {
        struct stat status = {};
        ASSERT_EQ(stat((bundle + "/Contents/MacOS/" + program).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0755u) << program << ": no set-id bits, no group or world write";
    }
}

TEST(UnpackArchive, RefusesEntriesThatLeadOutOfTheFolderAndStopsThere) {
    const struct {
        Entry hostile;
        const char* shownPath;
    } cases[] = {
        {file("../evil", "x"), "../evil"},
        {file("Velmora.app/../../evil", "x"), "Velmora.app/../../evil"},
        {file("/tmp/velmora-evil", "x"), "/tmp/velmora-evil"},
        {symlink("Velmora.app/passwd", "/etc/passwd"), "Velmora.app/passwd"},
        {symlink("Velmora.app/up", "../../.."), "Velmora.app/up"},
        {symlink("Velmora.app/back", "../Velmora.app"), "Velmora.app/back"},  // climbs, even to come back
        {hardlink("Velmora.app/shadow", "../../../etc/shadow"), "../../../etc/shadow"},
        {hardlink("Velmora.app/shadow", "/etc/shadow"), "/etc/shadow"},
        {{"Velmora.app/pipe", AE_IFIFO, {}, {}}, "Velmora.app/pipe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shownPath);
        TempFolder scratch;
        fs::create_directories(scratch / "parent/into");
        const Bytes archive =
            makeTarGz({folder("Velmora.app"), file("Velmora.app/a", "a"), c.hostile, file("Velmora.app/z", "after")});
        EXPECT_EQ(unpackArchive(archive, scratch / "parent/into"),
                  std::string("l’archive contient un chemin interdit : ") + c.shownPath);
        EXPECT_EQ(treeOf(scratch / "parent"), (Strings{"into", "into/Velmora.app", "into/Velmora.app/a"}));
    }
    EXPECT_FALSE(fs::exists("/tmp/velmora-evil"));

    // A link that points inside, but an entry below it would be written wherever it leads.
    TempFolder scratch;
    fs::create_directories(scratch / "into");
    const Bytes throughLink = makeTarGz({folder("Velmora.app"), symlink("Velmora.app/Lien", "Contents"),
                                         folder("Velmora.app/Contents"), file("Velmora.app/Lien/x", "x")});
    EXPECT_EQ(unpackArchive(throughLink, scratch / "into"), "les fichiers de l’archive n’ont pas pu être écrits.");
    EXPECT_FALSE(fs::exists(scratch / "into/Velmora.app/Contents/x"));
}

TEST(UnpackArchive, DamagedArchivesFail) {
    // A program that does not compress, so that cutting the archive in half cuts into it.
    auto entries = bundleEntries("101");
    std::string noise(64 * 1024, '\0');
    std::uint32_t state = 12345;
    for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    entries.push_back(file("Velmora.app/Contents/MacOS/Programme", noise, 0755));
    const Bytes good = makeTarGz(entries);
    Bytes corrupted = good;
    for (size_t i = 40; i < 80; ++i) corrupted[i] = static_cast<std::uint8_t>(~corrupted[i]);
    for (const Bytes& archive : {Bytes(good.begin(), good.begin() + static_cast<long>(good.size() / 2)), corrupted,
                                 Bytes{'n', 'o', 'n'}, Bytes{}, makeTarGz({})}) {
        TempFolder scratch;
        fs::create_directory(scratch / "into");
        EXPECT_EQ(unpackArchive(archive, scratch / "into"), "l’archive est endommagée ou incomplète.")
            << archive.size() << " bytes";
    }
}

// ---- The installation ----

// A bundle folder of this build with its two programs.
void makeBundle(const std::string& path, const std::string& build) {
    writeFile(path + "/Contents/Info.plist", infoPlist(build));
    for (const char* program : {"Velmora", "VelmoraRelaunch"}) {
        writeFile(path + "/Contents/MacOS/" + program, "#!/bin/sh\n");
        fs::permissions(path + "/Contents/MacOS/" + program, fs::perms::owner_all);
    }
}

std::string buildAt(const std::string& bundle) { return readFile(bundle + "/Contents/Info.plist"); }

// The staged build and the running one change places in one step; the replaced build stays in
// the staging folder for the helper, unless the helper cannot start, which undoes the exchange.
TEST(SwapInStagedUpdate, ExchangesAndKeepsTheReplacedBuildOrUndoesItAll) {
    const struct {
        const char* behaviour;
        std::optional<std::string> helperError;
        bool stagedMissing;  // nothing to exchange with
        const char* installedBuild;
        std::optional<std::string> failure;
    } cases[] = {
        {"the helper starts", std::nullopt, false, "101", std::nullopt},
        {"the helper cannot start", "Fichier ou dossier inexistant", false, "100",
         "le redémarrage n’a pas pu être lancé (Fichier ou dossier inexistant)."},
        {"the staged bundle is gone", std::nullopt, true, "100",
         "l’application n’a pas pu être remplacée (No such file or directory)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        TempFolder scratch;
        const RunningCopy running{scratch / "Velmora.app", "100", "fr.velmora.universal", 4242};
        const StagedUpdate staged{scratch / ".Velmora.app.update-4242",
                                  scratch / ".Velmora.app.update-4242/Velmora.app"};
        makeBundle(running.bundlePath, "100");
        if (!c.stagedMissing) makeBundle(staged.bundlePath, "101");
        if (c.stagedMissing) fs::create_directory(staged.folder);
        Strings calls;
        const auto failure = swapInStagedUpdate(
            staged, running, [&] { calls.push_back("exchanged: " + buildAt(running.bundlePath)); },
            [&](const std::string& program, const std::vector<std::string>& arguments) {
                calls.push_back(program + " " + arguments.at(0) + " " + arguments.at(1));
                return c.helperError;
            });
        EXPECT_EQ(failure, c.failure);
        EXPECT_EQ(buildAt(running.bundlePath), infoPlist(c.installedBuild));
        if (!c.failure) {
            EXPECT_EQ(calls,
                      (Strings{"exchanged: " + infoPlist("101"),
                               running.bundlePath + "/Contents/MacOS/VelmoraRelaunch 4242 " + running.bundlePath}));
            EXPECT_EQ(buildAt(staged.bundlePath), infoPlist("100"));
        } else {
            EXPECT_EQ(namesIn(scratch.path), Strings{"Velmora.app"});
        }
    }
}

TEST(StageUpdate, UnpacksTheAnnouncedNewerBundleNextToTheRunningOne) {
    TempFolder scratch;
    makeBundle(scratch / "Velmora.app", "100");
    const Bytes archive = makeTarGz(bundleEntries("101"));
    const auto staged =
        stageUpdate(archive, offerFor(archive), {scratch / "Velmora.app", "100", "fr.velmora.universal", 4242});
    ASSERT_TRUE(std::holds_alternative<StagedUpdate>(staged)) << std::get<std::string>(staged);
    EXPECT_EQ(std::get<StagedUpdate>(staged).folder, scratch / ".Velmora.app.update-4242");
    EXPECT_EQ(std::get<StagedUpdate>(staged).bundlePath, scratch / ".Velmora.app.update-4242/Velmora.app");
    EXPECT_EQ(buildAt(std::get<StagedUpdate>(staged).bundlePath), infoPlist("101"));
    EXPECT_EQ(buildAt(scratch / "Velmora.app"), infoPlist("100"));
}

TEST(StageUpdate, EveryRefusalLeavesOnlyTheRunningBundle) {
    const auto changed = [](const std::string& build, const std::function<void(std::vector<Entry>&)>& change) {
        auto entries = bundleEntries(build);
        change(entries);
        return entries;
    };
    const auto without = [&](const char* path) {
        return changed("101",
                       [path](auto& entries) { std::erase_if(entries, [&](auto& e) { return e.path == path; }); });
    };
    const auto withInfo = [&](const std::string& plist) {
        return changed("101", [&plist](auto& entries) { entries[1].content = plist; });
    };
    const char* unusable = "l’archive ne contient pas d’application Velmóra utilisable.";
    const char* notNewer = "l’archive ne contient pas une version plus récente.";
    const struct {
        const char* behaviour;
        std::vector<Entry> entries;
        const char* expected;
        bool otherAnnounced = false;
    } cases[] = {
        {"another archive than the one announced", bundleEntries("101"),
         "l’empreinte de l’archive ne correspond pas à celle annoncée.", true},
        {"a traversal entry after the bundle", changed("101", [](auto& e) { e.push_back(file("../evil", "x")); }),
         "l’archive contient un chemin interdit : ../evil"},
        {"the same build as the running one", bundleEntries("100"), notNewer},
        {"an older build", bundleEntries("99"), notNewer},
        {"another application", withInfo(infoPlist("101", "fr.exemple.autre")),
         "l’archive contient une autre application."},
        {"no relaunch helper", without("Velmora.app/Contents/MacOS/VelmoraRelaunch"), unusable},
        {"no Info.plist", without("Velmora.app/Contents/Info.plist"), unusable},
        {"an unreadable Info.plist", withInfo("<plist><dict>"), unusable},
        {"the bundle under another name",
         {folder("Velmora 2.app"), file("Velmora 2.app/Contents/Info.plist", infoPlist("101"))},
         unusable},
        {"the bundle as a link to a folder of the archive",
         {folder("vrai"), file("vrai/Contents/Info.plist", infoPlist("101")),
          file("vrai/Contents/MacOS/Velmora", "x", 0755), file("vrai/Contents/MacOS/VelmoraRelaunch", "x", 0755),
          symlink("Velmora.app", "vrai")},
         unusable},
    };
    const Bytes other = makeTarGz(bundleEntries("102"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        TempFolder scratch;
        makeBundle(scratch / "Velmora.app", "100");
        const Bytes archive = makeTarGz(c.entries);
        // An archive of the same size whose digest differs from the announced one.
        UpdateFeed announced = offerFor(c.otherAnnounced ? other : archive);
        if (c.otherAnnounced) announced.size = archive.size();
        const auto staged =
            stageUpdate(archive, announced, {scratch / "Velmora.app", "100", "fr.velmora.universal", 4242});
        ASSERT_TRUE(std::holds_alternative<std::string>(staged));
        EXPECT_EQ(std::get<std::string>(staged), c.expected);
        EXPECT_EQ(buildAt(scratch / "Velmora.app"), infoPlist("100"));
        EXPECT_EQ(namesIn(scratch.path), Strings{"Velmora.app"});
    }
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
          "Velmora.app.old-" + livingId, std::string("Velmora.app.old-abc"), "Autre.app.old-" + endedId,
          std::string("Velmora.app.old-4242"), ".Velmora.app.removing-" + endedId, ".Velmora.app.removing-" + livingId})
        makeBundle(scratch / name, "100");

    removeLeftovers(scratch / "Velmora.app", 4242);

    Strings expected{
        ".Velmora.app.update-" + livingId, "Autre.app.old-" + endedId, "Velmora.app",
        "Velmora.app.old-" + livingId,     "Velmora.app.old-abc",      ".Velmora.app.removing-" + livingId};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(scratch.path), expected);
}

}  // namespace
}  // namespace gtk
