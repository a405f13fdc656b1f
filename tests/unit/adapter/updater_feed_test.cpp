#include "platform/gtk/updater/update_feed.h"

#include <gtest/gtest.h>

#include <string>
#include <variant>

#include "platform/gtk/updater/update_settings.h"

namespace gtk {
namespace {

// 64 bytes of 0x01, Base64.
const std::string kSignature =
    "AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQ==";
const std::string kDigest = "00112233445566778899aabbccddeeff00112233445566778899AABBCCDDEEFF";

// A feed document with `member` replaced by `value` (raw JSON), or left out when `value` is null.
std::string feedWith(const std::string& member = "", const char* value = nullptr) {
    const std::pair<std::string, std::string> members[] = {
        {"version", "\"1.1.0\""},
        {"build", "\"101\""},
        {"archive", "\"https://velmora.fr/mises-a-jour/Velmora-101.tar.gz\""},
        {"size", "123456"},
        {"sha256", "\"" + kDigest + "\""},
        {"signature", "\"" + kSignature + "\""},
        {"notes", "\"Corrections et améliorations.\""},
    };
    std::string document = "{";
    for (const auto& [name, json] : members) {
        std::string shown = json;
        if (name == member) {
            if (!value) continue;
            shown = value;
        }
        if (document.size() > 1) document += ", ";
        document += "\"" + name + "\": " + shown;
    }
    return document + "}";
}

TEST(UpdateFeed, ReadsEveryMemberOfAWellFormedFeed) {
    const auto parsed = parseUpdateFeed(feedWith());
    ASSERT_TRUE(std::holds_alternative<UpdateFeed>(parsed)) << std::get<std::string>(parsed);
    const auto& feed = std::get<UpdateFeed>(parsed);
    EXPECT_EQ(feed.version, "1.1.0");
    EXPECT_EQ(feed.build, "101");
    EXPECT_EQ(feed.archiveUrl, "https://velmora.fr/mises-a-jour/Velmora-101.tar.gz");
    EXPECT_EQ(feed.size, 123456u);
    EXPECT_EQ(feed.sha256[0], 0x00);
    EXPECT_EQ(feed.sha256[31], 0xff);  // upper-case hex digits read too
    EXPECT_EQ(feed.signature[63], 0x01);
    EXPECT_EQ(feed.notes, "Corrections et améliorations.");
}

TEST(UpdateFeed, RefusesEveryMalformedMemberAndNamesIt) {
    const struct {
        const char* behaviour;
        const char* member;
        const char* value;  // nullptr: member left out
    } cases[] = {
        {"a missing version", "version", nullptr},
        {"an empty version", "version", "\"\""},
        {"a build given as a number, whose text would be guessed", "build", "101"},
        {"a missing build", "build", nullptr},
        {"an archive over plain HTTP", "archive", "\"http://velmora.fr/Velmora-101.tar.gz\""},
        {"an archive URL without host", "archive", "\"https:///Velmora.tar.gz\""},
        {"a relative archive URL", "archive", "\"Velmora-101.tar.gz\""},
        {"a size with a fraction", "size", "12.5"},
        {"a size given as text", "size", "\"123456\""},
        {"a zero size", "size", "0"},
        {"a negative size", "size", "-4"},
        {"a size beyond the largest archive", "size", "600000000"},
        {"a digest one digit short", "sha256", "\"00112233445566778899aabbccddeeff00112233445566778899aabbccddeef\""},
        {"a digest with a non-hex digit", "sha256",
         "\"g0112233445566778899aabbccddeeff00112233445566778899aabbccddeeff\""},
        {"a signature of 63 bytes", "signature",
         "\"AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB\""},
        {"a signature with a line break", "signature",
         "\"AQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEBAQEB\\nAQEBAQEBAQEBAQEBAQEBAQEBAQ==\""},
        {"a missing signature", "signature", nullptr},
        {"notes that are not text", "notes", "[\"a\"]"},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        const auto parsed = parseUpdateFeed(feedWith(testCase.member, testCase.value));
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
        EXPECT_NE(std::get<std::string>(parsed).find(std::string("« ") + testCase.member + " »"), std::string::npos)
            << std::get<std::string>(parsed);
    }
}

TEST(UpdateFeed, MissingNotesAreEmpty) {
    const auto parsed = parseUpdateFeed(feedWith("notes", nullptr));
    ASSERT_TRUE(std::holds_alternative<UpdateFeed>(parsed));
    EXPECT_EQ(std::get<UpdateFeed>(parsed).notes, "");
}

TEST(UpdateFeed, RefusesDocumentsThatAreNotAnObject) {
    const struct {
        const char* behaviour;
        std::string document;
    } cases[] = {
        {"an empty answer", ""},
        {"an HTML error page", "<!doctype html><p>Erreur</p>"},
        {"a feed cut off", feedWith().substr(0, 60)},
        {"an array", "[" + feedWith() + "]"},
        {"a bare string", "\"101\""},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        const auto parsed = parseUpdateFeed(testCase.document);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed));
        EXPECT_EQ(std::get<std::string>(parsed), "la description de la mise à jour est illisible.");
    }
}

TEST(UpdaterSettings, TakesOnlyUsableValuesFromTheInfoDictionary) {
    const std::string key = "Y2hlY2tlZC1rZXktb2YtdGhpcnR5LXR3by1ieXRlcyE=";  // 32 bytes
    const struct {
        const char* behaviour;
        foundation::PropertyListDictionary info;
        bool feed, automatic, publicKey;
    } cases[] = {
        {"a complete configuration",
         {{{"SUFeedURL", "https://velmora.fr/mises-a-jour/linux.json"}, {"SUPublicEDKey", key}},
          {{"SUEnableAutomaticChecks", true}},
          {}},
         true,
         true,
         true},
        {"nothing configured", {}, false, false, false},
        {"a feed over plain HTTP counts as none",
         {{{"SUFeedURL", "http://velmora.fr/mises-a-jour/linux.json"}}, {}, {}},
         false,
         false,
         false},
        {"an empty feed and key, as an unconfigured build writes them",
         {{{"SUFeedURL", ""}, {"SUPublicEDKey", ""}}, {{"SUEnableAutomaticChecks", true}}, {}},
         false,
         true,
         false},
        {"automatic checks switched off", {{}, {{"SUEnableAutomaticChecks", false}}, {}}, false, false, false},
        {"a key of the wrong length", {{{"SUPublicEDKey", "c2hvcnQ="}}, {}, {}}, false, false, false},
        {"a key with a line break",
         {{{"SUPublicEDKey", "Y2hlY2tlZC1rZXktb2YtdGhpcnR5\nLXR3by1ieXRlcyE="}}, {}, {}},
         false,
         false,
         false},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        const UpdaterSettings settings = updaterSettingsFrom(testCase.info);
        EXPECT_EQ(settings.feedUrl.has_value(), testCase.feed);
        EXPECT_EQ(settings.automaticChecks, testCase.automatic);
        EXPECT_EQ(settings.publicKey.has_value(), testCase.publicKey);
    }
}

}  // namespace
}  // namespace gtk
