// Strict Base64 from any bytes: what decodes encodes back to the same text (up to the unused
// bits of a padded end), and any bytes encode to text that decodes to them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/require.h"
#include "platform/foundation/base64.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::vector<std::uint8_t> bytes(data, data + size);

    const std::string encoded = foundation::encodeBase64(bytes);
    const auto decodedBack = foundation::decodeBase64Strict(encoded);
    require(decodedBack.has_value() && *decodedBack == bytes, "encoded bytes decode to themselves");

    const auto decoded = foundation::decodeBase64Strict(text);
    if (!decoded) return 0;
    const std::string reencoded = foundation::encodeBase64(*decoded);
    require(reencoded.size() == text.size(), "decoding keeps the length of the text");
    // The last character before the padding may carry bits that belong to no byte ("YR=="
    // reads as "a", which encodes as "YQ=="); every other character must come back.
    const std::size_t padding = text.size() - text.find_last_not_of('=') - 1;
    const std::size_t loose = padding > 0 && padding < text.size() ? text.size() - padding - 1 : text.size();
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != loose) require(reencoded[i] == text[i], "decoded text encodes back to itself");
    const auto twice = foundation::decodeBase64Strict(reencoded);
    require(twice.has_value() && *twice == *decoded, "re-encoded text decodes to the same bytes");
    return 0;
}
