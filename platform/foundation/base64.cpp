#include "platform/foundation/base64.h"

#include <cstddef>

// Decoding is done by hand rather than with g_base64_decode: GLib skips characters outside
// the alphabet (line breaks, spaces, stray symbols) without a word, and the callers need such
// text refused, not quietly repaired.
namespace foundation {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> decodeBase64Strict(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    // "=" may only fill the end of the last quantum, and at most two of them: a quantum
    // always carries at least one full byte (two characters).
    std::size_t padding = 0;
    while (padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    if (padding > 2) {
        return std::nullopt;
    }
    const std::size_t dataLength = text.size() - padding;

    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    std::uint32_t accumulator = 0;
    int bits = 0;
    for (std::size_t i = 0; i < dataLength; ++i) {
        const int value = sextet(text[i]);
        if (value < 0) {
            return std::nullopt;  // outside the alphabet, or an "=" before the end
        }
        accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>(accumulator >> bits));
            accumulator &= (1u << bits) - 1;
        }
    }
    // The bits left over in a padded quantum are not part of any byte. They are not required
    // to be zero ("YR==" is taken as "a"), as most encoders and decoders do.
    return bytes;
}

std::string encodeBase64(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += kAlphabet[(group >> 6) & 0x3F];
        out += kAlphabet[group & 0x3F];
    }
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        if (left == 2) {
            group |= std::uint32_t{bytes[i + 1]} << 8;
        }
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

}  // namespace foundation
