#include "platform/foundation/base64.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

struct DecodeCase {
    const char* behaviour;
    const char* text;
    std::vector<std::uint8_t> bytes;
};

const DecodeCase kDecodeCases[] = {
    {"empty text gives no bytes", "", {}},
    {"two padding characters", "YQ==", bytesOf("a")},
    {"one padding character", "YWI=", bytesOf("ab")},
    {"no padding for a full quantum", "YWJj", bytesOf("abc")},
    {"several quanta", "SGVsbG8sIFZlbG1vcmEh", bytesOf("Hello, Velmora!")},
    {"plus and slash are the last two letters", "+/+/", {0xFB, 0xFF, 0xBF}},
    {"every bit of the top letter", "////", {0xFF, 0xFF, 0xFF}},
    {"zero bytes", "AAAA", {0x00, 0x00, 0x00}},
};

TEST(DecodeBase64Strict, DecodesStandardPaddedText) {
    for (const auto& c : kDecodeCases) {
        SCOPED_TRACE(c.behaviour);
        const auto bytes = decodeBase64Strict(c.text);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(*bytes, c.bytes);
    }
}

struct RefuseCase {
    const char* behaviour;
    const char* text;
};

const RefuseCase kRefuseCases[] = {
    {"missing padding", "YQ"},
    {"length not a multiple of four", "YWJjZ"},
    {"trailing line break", "YQ==\n"},
    {"line break between quanta", "YWJj\nYWJj"},
    {"carriage return and line break", "YWJj\r\n"},
    {"space inside", "Y Q=="},
    {"leading space", " YQ=="},
    {"tab", "YQ\t="},
    {"letter after padding", "YQ=a"},
    {"padding in the middle", "Y=Q="},
    {"padding in an earlier quantum", "YQ==YWJj"},
    {"padding only", "===="},
    {"three padding characters", "Y==="},
    {"five characters ending in three padding", "YQ==="},
    {"URL-safe minus", "-_-_"},
    {"URL-safe underscore", "YW_j"},
    {"character outside the alphabet", "YW*j"},
    {"non-ASCII byte", "YW\xC3\xA9"},
};

TEST(DecodeBase64Strict, RefusesAnythingButStrictBase64) {
    for (const auto& c : kRefuseCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_FALSE(decodeBase64Strict(c.text).has_value()) << c.text;
    }
}

TEST(DecodeBase64Strict, RefusesNulByte) { EXPECT_FALSE(decodeBase64Strict(std::string_view("YQ\0=", 4)).has_value()); }

struct EncodeCase {
    const char* behaviour;
    std::vector<std::uint8_t> bytes;
    const char* text;
};

const EncodeCase kEncodeCases[] = {
    {"no bytes", {}, ""},
    {"one byte gets two padding characters", bytesOf("a"), "YQ=="},
    {"two bytes get one padding character", bytesOf("ab"), "YWI="},
    {"three bytes need no padding", bytesOf("abc"), "YWJj"},
    {"four bytes start a new quantum", bytesOf("abcd"), "YWJjZA=="},
    {"high bytes use plus and slash", {0xFB, 0xFF, 0xBF}, "+/+/"},
    {"zero bytes", {0x00}, "AA=="},
};

TEST(EncodeBase64, WritesStandardPaddedText) {
    for (const auto& c : kEncodeCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(encodeBase64(c.bytes), c.text);
    }
}

TEST(EncodeBase64, DecodingGivesBackEveryByteValue) {
    // Lengths 0 to 5 cover every padding case; each byte value shows up in some position.
    for (std::size_t length = 0; length <= 5; ++length) {
        SCOPED_TRACE(length);
        for (int start = 0; start < 256; ++start) {
            std::vector<std::uint8_t> bytes;
            for (std::size_t i = 0; i < length; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(start + 97 * i));
            }
            const auto decoded = decodeBase64Strict(encodeBase64(bytes));
            ASSERT_TRUE(decoded.has_value());
            ASSERT_EQ(*decoded, bytes);
        }
    }
}

}  // namespace
}  // namespace foundation
