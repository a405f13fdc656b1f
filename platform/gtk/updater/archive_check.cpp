#include "platform/gtk/updater/archive_check.h"

#include <sodium.h>

#include <array>

#include "platform/gtk/updater/update_texts.h"

namespace gtk {

std::optional<std::string> checkArchive(std::span<const std::uint8_t> archive, const UpdateFeed& feed,
                                        const UpdatePublicKey& publicKey) {
    // sodium_init() may be called from any thread and any number of times; only a failure to
    // set the library up (no usable random source) makes it negative.
    if (sodium_init() < 0) return std::string(update_texts::kBadSignature);
    if (archive.size() != feed.size) return std::string(update_texts::kSizeMismatch);

    std::array<std::uint8_t, crypto_hash_sha256_BYTES> digest{};
    crypto_hash_sha256(digest.data(), archive.data(), archive.size());
    // The digest is public, so a plain comparison leaks nothing worth a constant-time one; the
    // signature below is what an attacker would have to forge.
    if (digest != feed.sha256) return std::string(update_texts::kDigestMismatch);

    static_assert(sizeof(feed.signature) == crypto_sign_BYTES && sizeof(publicKey) == crypto_sign_PUBLICKEYBYTES);
    if (crypto_sign_verify_detached(feed.signature.data(), archive.data(), archive.size(), publicKey.data()) != 0)
        return std::string(update_texts::kBadSignature);
    return std::nullopt;
}

}  // namespace gtk
