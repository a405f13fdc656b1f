#include "platform/gtk/updater/archive_check.h"

#include <sodium.h>

#include <array>

#include "platform/gtk/updater/update_texts.h"

namespace gtk {

std::optional<std::string> checkArchive(std::span<const std::uint8_t> archive, const UpdateFeed& feed) {
    if (archive.size() != feed.size) return std::string(update_texts::kSizeMismatch);
    // libsodium's SHA-256 is portable code that needs nothing of sodium_init().
    std::array<std::uint8_t, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), archive.data(), archive.size());
    // The digest is public, so a plain comparison leaks nothing worth a constant-time one.
    if (digest != feed.sha256) return std::string(update_texts::kDigestMismatch);
    return std::nullopt;
}

}  // namespace gtk
