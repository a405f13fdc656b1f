// The update feed: a small JSON document whose offer of the newest build is signed as a whole.
//
//   {"offer": "<the offer's JSON text, as a string>",
//    "signature": "<Base64 Ed25519 signature of the offer text's UTF-8 bytes>"}
//
// and the offer, once its signature holds:
//
//   {"version": "1.1.0", "build": "101", "archive": "https://…/Velmora-101.tar.gz",
//    "size": 123456, "sha256": "<64 hex digits>", "notes": "Texte en français"}
//
// The exact bytes are signed, so that no JSON text has to be rewritten into a canonical form
// before it is checked.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace gtk {

// An Ed25519 public key, as the bundle's SUPublicEDKey gives it.
using UpdatePublicKey = std::array<std::uint8_t, 32>;

// An offer whose signature held: every member is as the holder of the secret key wrote it.
struct UpdateFeed {
    std::string version;                    // shown to the user
    std::string build;                      // compared numerically with the running build
    std::string archiveUrl;                 // an https URL
    std::uint64_t size = 0;                 // of the archive, in bytes
    std::array<std::uint8_t, 32> sha256{};  // of the archive
    std::string notes;                      // may be empty
};

// The largest archive a feed may announce; anything bigger is refused before it is downloaded.
inline constexpr std::uint64_t kLargestArchive = 512ull * 1024 * 1024;

// Reads a feed document: checks the offer's signature with `publicKey` before anything of the
// offer is read, then reads the offer. On failure the French reason that completes
// "Impossible de vérifier les mises à jour : ".
std::variant<UpdateFeed, std::string> readSignedFeed(std::string_view document, const UpdatePublicKey& publicKey);

}  // namespace gtk
