// Whether a downloaded archive is the one the signed offer announced.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/gtk/updater/update_feed.h"

namespace gtk {

// Checks the archive's size, then its SHA-256 digest, against those of the offer; nullopt when
// both hold, else the French reason for the first that fails. The offer's signature covers the
// digest, so an archive that matches it is the one the holder of the key announced.
std::optional<std::string> checkArchive(std::span<const std::uint8_t> archive, const UpdateFeed& feed);

}  // namespace gtk
