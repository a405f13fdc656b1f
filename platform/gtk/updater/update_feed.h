// The update feed: a small JSON document that names the newest build and its signed archive.
//
//   {"version": "1.1.0", "build": "101", "archive": "https://…/Velmora-101.tar.gz",
//    "size": 123456, "sha256": "<64 hex digits>", "signature": "<Base64 Ed25519 signature>",
//    "notes": "Texte en français"}
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace gtk {

struct UpdateFeed {
    std::string version;     // shown to the user
    std::string build;       // compared numerically with the running build
    std::string archiveUrl;  // an https URL
    std::uint64_t size = 0;  // of the archive, in bytes
    std::array<std::uint8_t, 32> sha256{};
    std::array<std::uint8_t, 64> signature{};  // Ed25519, detached, over the archive's bytes
    std::string notes;                         // may be empty
};

// The largest archive a feed may announce; anything bigger is refused before it is downloaded.
inline constexpr std::uint64_t kLargestArchive = 512ull * 1024 * 1024;

// Reads a feed document; on failure the French reason that completes "Impossible de vérifier
// les mises à jour : ".
std::variant<UpdateFeed, std::string> parseUpdateFeed(std::string_view document);

}  // namespace gtk
