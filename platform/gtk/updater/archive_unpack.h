// Unpacking an update archive into a folder of its own, refusing anything that would land
// outside that folder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace gtk {

// The most the entries of one archive may hold once unpacked, against archives that expand
// without end.
inline constexpr std::uint64_t kLargestUnpackedSize = 2ull * 1024 * 1024 * 1024;

// An entry's path made relative and clean: "." and empty components dropped. nullopt when the
// path is empty, absolute or has a ".." component. The archive's own top folder ("./") gives "".
std::optional<std::string> cleanEntryPath(std::string_view path);

// Unpacks a tar archive (plain, gzip, xz, bzip2 or zstd) into the existing folder
// `destination`. Only folders, regular files, hard links to other entries and symbolic links
// with a relative target without ".." are accepted; permissions keep their execute bits but
// lose set-id bits and group or world write. nullopt on success, else the French reason; what
// was written before a failure stays in `destination` for the caller to remove.
std::optional<std::string> unpackArchive(std::span<const std::uint8_t> archive, const std::string& destination);

}  // namespace gtk
