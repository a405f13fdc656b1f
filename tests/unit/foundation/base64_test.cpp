#include "platform/foundation/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace foundation {
namespace {

using namespace std::literals;

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Base64, EncodesAndDecodesStandardPaddedText) {
    // Every padding case, a second quantum, the last two letters and the extreme bytes.
    const struct {
        const char* text;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"", {}},
        {"YQ==", bytesOf("a")},
        {"YWI=", bytesOf("ab")},
        {"YWJj", bytesOf("abc")},
        {"YWJjZA==", bytesOf("abcd")},
        {"SGVsbG8sIFZlbG1vcmEh", bytesOf("Hello, Velmora!")},
        {"+/+/", {0xFB, 0xFF, 0xBF}},
        {"////", {0xFF, 0xFF, 0xFF}},
        {"AAAA", {0x00, 0x00, 0x00}},
        {"AA==", {0x00}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodeBase64Strict(c.text), c.bytes) << c.text;
        EXPECT_EQ(encodeBase64(c.bytes), c.text);
    }
}

TEST(Base64, DecodingRefusesAnythingButStrictBase64) {
    // Bad lengths and padding, whitespace anywhere, the URL-safe alphabet, other bytes, NUL.
    for (const std::string_view text : {"YQ"sv, "YWJjZ"sv, "YQ==\n"sv, "YWJj\nYWJj"sv, "YWJj\r\n"sv, "Y Q=="sv,
                                        " YQ=="sv, "YQ\t="sv, "YQ=a"sv, "Y=Q="sv, "YQ==YWJj"sv, "===="sv, "Y==="sv,
                                        "YQ==="sv, "-_-_"sv, "YW_j"sv, "YW*j"sv, "YW\xC3\xA9"sv, "YQ\0="sv}) {
        EXPECT_FALSE(decodeBase64Strict(text).has_value()) << text;
    }
}

TEST(Base64, DecodingGivesBackEveryByteValue) {
    // Lengths 0 to 5 cover every padding case; each byte value shows up in some position.
    for (std::size_t length = 0; length <= 5; ++length) {
        for (int start = 0; start < 256; ++start) {
            std::vector<std::uint8_t> bytes;
            for (std::size_t i = 0; i < length; ++i) bytes.push_back(static_cast<std::uint8_t>(start + 97 * i));
            ASSERT_EQ(decodeBase64Strict(encodeBase64(bytes)), bytes) << length << " bytes from " << start;
        }
    }
}

}  // namespace
}  // namespace foundation
