#include "platform/gtk/updater/update_feed.h"

#include <json-glib/json-glib.h>

#include <algorithm>
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

// Only https archives are fetched: the signature protects the bytes, but the transport keeps
// the feed's other facts (the notes, the version shown) from being changed on the way.
bool isHttpsUrl(const std::string& text) {
    const auto url = foundation::Url::parse(text);
    return url && url->scheme() == "https" && url->host() && !url->host()->empty();
}

std::variant<UpdateFeed, std::string> readFeed(JsonObject* object) {
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

    const auto signatureText = stringMember(object, "signature");
    const auto signature = signatureText ? foundation::decodeBase64Strict(*signatureText) : std::nullopt;
    if (!signature || signature->size() != feed.signature.size()) return invalidField("signature");
    std::copy(signature->begin(), signature->end(), feed.signature.begin());

    if (json_object_has_member(object, "notes")) {
        const auto notes = stringMember(object, "notes");
        if (!notes) return invalidField("notes");
        feed.notes = *notes;
    }
    return feed;
}

}  // namespace

std::variant<UpdateFeed, std::string> parseUpdateFeed(std::string_view document) {
    if (document.empty()) return std::string(update_texts::kFeedUnreadable);
    g_autoptr(JsonParser) parser = json_parser_new();
    if (!json_parser_load_from_data(parser, document.data(), static_cast<gssize>(document.size()), nullptr))
        return std::string(update_texts::kFeedUnreadable);
    JsonNode* root = json_parser_get_root(parser);
    if (!root || !JSON_NODE_HOLDS_OBJECT(root)) return std::string(update_texts::kFeedUnreadable);
    return readFeed(json_node_get_object(root));
}

}  // namespace gtk
