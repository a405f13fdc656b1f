#include "platform/gtk/updater/archive_check.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

#include "updater_test_support.h"

namespace gtk {
namespace {

using adapter_test::Bytes;
using adapter_test::KeyPair;
using adapter_test::signedFeed;

TEST(ArchiveCheck, AcceptsOnlyTheAnnouncedArchiveSignedWithTheBundlesKey) {
    const KeyPair keys;
    const KeyPair otherKeys;
    const Bytes archive = adapter_test::makeTarGz(adapter_test::bundleEntries("101"));
    const UpdateFeed feed = signedFeed(archive, keys);

    const struct {
        const char* behaviour;
        std::function<void(Bytes&, UpdateFeed&, UpdatePublicKey&)> change;
        std::optional<std::string> expected;
    } cases[] = {
        {"the archive as signed", [](Bytes&, UpdateFeed&, UpdatePublicKey&) {}, std::nullopt},
        {"one byte changed in the middle",
         [](Bytes& bytes, UpdateFeed&, UpdatePublicKey&) { bytes[bytes.size() / 2] ^= 1; },
         "l’empreinte de l’archive ne correspond pas à celle annoncée."},
        {"one byte changed and the digest recomputed, as an attacker would",
         [](Bytes& bytes, UpdateFeed& announced, UpdatePublicKey&) {
             bytes[bytes.size() / 2] ^= 1;
             crypto_hash_sha256(announced.sha256.data(), bytes.data(), bytes.size());
         },
         "la signature de l’archive n’est pas valable."},
        {"signed with another key",
         [&](Bytes& bytes, UpdateFeed& announced, UpdatePublicKey&) { announced = signedFeed(bytes, otherKeys); },
         "la signature de l’archive n’est pas valable."},
        {"checked against another key", [&](Bytes&, UpdateFeed&, UpdatePublicKey& key) { key = otherKeys.publicKey; },
         "la signature de l’archive n’est pas valable."},
        {"a byte more than announced", [](Bytes& bytes, UpdateFeed&, UpdatePublicKey&) { bytes.push_back(0); },
         "la taille de l’archive ne correspond pas à celle annoncée."},
        {"cut short", [](Bytes& bytes, UpdateFeed&, UpdatePublicKey&) { bytes.resize(bytes.size() - 10); },
         "la taille de l’archive ne correspond pas à celle annoncée."},
        {"a feed that announces another size",
         [](Bytes&, UpdateFeed& announced, UpdatePublicKey&) { announced.size += 1; },
         "la taille de l’archive ne correspond pas à celle annoncée."},
        {"a signature with one bit changed",
         [](Bytes&, UpdateFeed& announced, UpdatePublicKey&) { announced.signature[5] ^= 0x10; },
         "la signature de l’archive n’est pas valable."},
    };
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.behaviour);
        Bytes bytes = archive;
        UpdateFeed announced = feed;
        UpdatePublicKey key = keys.publicKey;
        testCase.change(bytes, announced, key);
        EXPECT_EQ(checkArchive(bytes, announced, key), testCase.expected);
    }
}

}  // namespace
}  // namespace gtk
