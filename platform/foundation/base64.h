// Strict Base64 decoding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

// Decodes standard Base64 (RFC 4648 alphabet, "=" padding required). Any character outside
// the alphabet — whitespace and line breaks included — or a bad length or padding fails.
// The empty text decodes to no bytes.
std::optional<std::vector<std::uint8_t>> decodeBase64Strict(std::string_view text);

// Encodes bytes as standard padded Base64 (used by tests and the stand-in service).
std::string encodeBase64(const std::vector<std::uint8_t>& bytes);

}  // namespace foundation
