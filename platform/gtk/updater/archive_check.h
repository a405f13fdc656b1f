// Whether a downloaded archive is the one the feed announced and was signed with our key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/gtk/updater/update_feed.h"
#include "platform/gtk/updater/update_settings.h"

namespace gtk {

// Checks the archive's size, then its SHA-256 digest, then its Ed25519 signature against
// `publicKey`; nullopt when all three hold, else the French reason for the first that fails.
std::optional<std::string> checkArchive(std::span<const std::uint8_t> archive, const UpdateFeed& feed,
                                        const UpdatePublicKey& publicKey);

}  // namespace gtk
