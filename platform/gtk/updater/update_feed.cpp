#include "platform/gtk/updater/update_feed.h"

#include <json-glib/json-glib.h>
#include <sodium.h>

#include <optional>

#include "platform/foundation/base64.h"
#include "platform/foundation/url.h"
#include "platform/gtk/updater/update_texts.h"

namespace gtk {

namespace {

std::string invalidField(const char* name) {
    return std::string(update_texts::kFeedFieldPrefix) + name + update_texts::kFeedFieldSuffix;
}

// The member as a JSON string, or nullopt when it is absent or of another type: a number is
// never taken for a build or a version, whose text is what gets compared and shown.
std::optional<std::string> stringMember(JsonObject* object, const char* name) {
    JsonNode* node = json_object_get_member(object, name);
    if (!node || !JSON_NODE_HOLDS_VALUE(node) || json_node_get_value_type(node) != G_TYPE_STRING) return std::nullopt;
    return std::string(json_node_get_string(node));
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool decodeDigest(const std::string& hex, std::array<std::uint8_t, 32>& digest) {
    if (hex.size() != digest.size() * 2) return false;
    for (size_t i = 0; i < digest.size(); ++i) {
        const int high = hexDigit(hex[2 * i]);
        const int low = hexDigit(hex[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        digest[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return true;
}

// Only https archives are fetched: the signed digest already holds the bytes, but https keeps
// what a user downloads from being watched or held up by anyone on the way.
bool isHttpsUrl(const std::string& text) {
    const auto url = foundation::Url::parse(text);
    return url && url->scheme() == "https" && url->host() && !url->host()->empty();
}

std::variant<UpdateFeed, std::string> readOffer(JsonObject* object) {
    UpdateFeed feed;
    const auto version = stringMember(object, "version");
    if (!version || version->empty()) return invalidField("version");
    feed.version = *version;

    const auto build = stringMember(object, "build");
    if (!build || build->empty()) return invalidField("build");
    feed.build = *build;

    const auto archive = stringMember(object, "archive");
    if (!archive || !isHttpsUrl(*archive)) return invalidField("archive");
    feed.archiveUrl = *archive;

    // json-glib keeps integers and fractions apart, so 12.5 or 1e3 is refused here.
    JsonNode* size = json_object_get_member(object, "size");
    if (!size || !JSON_NODE_HOLDS_VALUE(size) || json_node_get_value_type(size) != G_TYPE_INT64)
        return invalidField("size");
    const gint64 bytes = json_node_get_int(size);
    if (bytes <= 0 || static_cast<std::uint64_t>(bytes) > kLargestArchive) return invalidField("size");
    feed.size = static_cast<std::uint64_t>(bytes);

    const auto digest = stringMember(object, "sha256");
    if (!digest || !decodeDigest(*digest, feed.sha256)) return invalidField("sha256");

    if (json_object_has_member(object, "notes")) {
        const auto notes = stringMember(object, "notes");
        if (!notes) return invalidField("notes");
        feed.notes = *notes;
    }
    return feed;
}

// The document's root object, or null when the text is no JSON object; `parser` owns it.
JsonObject* rootObject(JsonParser* parser, std::string_view text) {
    if (text.empty() || !json_parser_load_from_data(parser, text.data(), static_cast<gssize>(text.size()), nullptr))
        return nullptr;
    JsonNode* root = json_parser_get_root(parser);
    return root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
}

// Whether `signature` (Base64) is the key's Ed25519 signature of the offer text's bytes.
bool offerSigned(const std::string& offer, const std::optional<std::string>& signature,
                 const UpdatePublicKey& publicKey) {
    // sodium_init() may be called from any thread and any number of times; only a failure to
    // set the library up (no usable random source) makes it negative.
    if (!signature || sodium_init() < 0) return false;
    const auto bytes = foundation::decodeBase64Strict(*signature);
    static_assert(sizeof(UpdatePublicKey) == crypto_sign_PUBLICKEYBYTES);
    return bytes && bytes->size() == crypto_sign_BYTES &&
           crypto_sign_verify_detached(bytes->data(), reinterpret_cast<const unsigned char*>(offer.data()),
                                       offer.size(), publicKey.data()) == 0;
}

}  // namespace

std::variant<UpdateFeed, std::string> readSignedFeed(std::string_view document, const UpdatePublicKey& publicKey) {
    g_autoptr(JsonParser) envelopeParser = json_parser_new();
    JsonObject* envelope = rootObject(envelopeParser, document);
    if (!envelope) return std::string(update_texts::kFeedUnreadable);
    // The offer's text is held as the signer wrote it, and nothing of it is read before its
    // signature holds: not even whether it is JSON.
    const auto offer = stringMember(envelope, "offer");
    if (!offer || !offerSigned(*offer, stringMember(envelope, "signature"), publicKey))
        return std::string(update_texts::kFeedNotSigned);

    g_autoptr(JsonParser) offerParser = json_parser_new();
    JsonObject* object = rootObject(offerParser, *offer);
    if (!object) return std::string(update_texts::kFeedUnreadable);
    return readOffer(object);
}

}  // namespace gtk
