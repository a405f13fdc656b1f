// The update feed from any bytes. The input is read as a whole feed document, checked against
// a key of the target's own, and never crashes the reader. It is also taken as the text of an
// offer and signed with that key: an offer is then read only if it holds every fact the
// updater relies on, and the same envelope with one byte added to the offer, or checked
// against another key, is refused as not signed.
#include <glib.h>
#include <json-glib/json-glib.h>
#include <sodium.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz/require.h"
#include "platform/foundation/url.h"
#include "platform/gtk/updater/update_feed.h"

namespace {

using fuzzing::require;

struct Keys {
    gtk::UpdatePublicKey publicKey{};
    gtk::UpdatePublicKey otherPublicKey{};
    std::array<unsigned char, crypto_sign_SECRETKEYBYTES> secretKey{};
    Keys() {
        require(sodium_init() >= 0, "libsodium starts");
        // Keys from fixed seeds, so that every run is the same.
        std::array<unsigned char, crypto_sign_SEEDBYTES> seed{};
        std::array<unsigned char, crypto_sign_SECRETKEYBYTES> otherSecretKey{};
        crypto_sign_seed_keypair(publicKey.data(), secretKey.data(), seed.data());
        seed[0] = 1;
        crypto_sign_seed_keypair(otherPublicKey.data(), otherSecretKey.data(), seed.data());
    }
};

const Keys& keys() {
    static const Keys made;
    return made;
}

std::string envelope(const std::string& offer, const std::string& signedText) {
    std::array<unsigned char, crypto_sign_BYTES> signature{};
    crypto_sign_detached(signature.data(), nullptr, reinterpret_cast<const unsigned char*>(signedText.data()),
                         signedText.size(), keys().secretKey.data());
    g_autofree char* encoded = g_base64_encode(signature.data(), signature.size());
    g_autoptr(JsonBuilder) builder = json_builder_new();
    json_builder_begin_object(builder);
    json_builder_set_member_name(builder, "offer");
    json_builder_add_string_value(builder, offer.c_str());
    json_builder_set_member_name(builder, "signature");
    json_builder_add_string_value(builder, encoded);
    json_builder_end_object(builder);
    g_autoptr(JsonNode) root = json_builder_get_root(builder);
    g_autofree char* text = json_to_string(root, FALSE);
    return text;
}

bool refusedAsNotSigned(const std::variant<gtk::UpdateFeed, std::string>& read) {
    const auto* reason = std::get_if<std::string>(&read);
    return reason && *reason == "la description de la mise à jour n’est pas signée correctement.";
}

bool isHttps(const std::string& text) {
    const auto url = foundation::Url::parse(text);
    return url && url->scheme() == "https" && url->host() && !url->host()->empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto asDocument = gtk::readSignedFeed(text, keys().publicKey);
    require(!std::holds_alternative<gtk::UpdateFeed>(asDocument), "a document nobody signed offers nothing");

    // A JSON string holds UTF-8 without NUL, which is what the signer's texts are.
    if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return 0;
    const std::string document = envelope(text, text);
    const auto read = gtk::readSignedFeed(document, keys().publicKey);
    if (const auto* offer = std::get_if<gtk::UpdateFeed>(&read)) {
        require(!offer->version.empty() && !offer->build.empty(), "an offer names its version and build");
        require(isHttps(offer->archiveUrl), "an offer's archive is fetched over https");
        require(offer->size > 0 && offer->size <= gtk::kLargestArchive, "an offer's size is within bounds");
    } else {
        require(!refusedAsNotSigned(read), "an offer signed with the key passes its signature check");
    }
    require(refusedAsNotSigned(gtk::readSignedFeed(document, keys().otherPublicKey)), "another key refuses the offer");
    require(refusedAsNotSigned(gtk::readSignedFeed(envelope(text + " ", text), keys().publicKey)),
            "an offer changed after signing is refused");
    return 0;
}
