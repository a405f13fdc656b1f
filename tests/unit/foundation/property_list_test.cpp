#include "platform/foundation/property_list.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {
namespace {

using namespace std::literals;
using std::nullopt;

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> xmlPlist(std::string_view body) {
    return bytesOf(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n"s +
        std::string(body) + "\n</plist>\n");
}

// Written by `plistutil -f bin` from the XML form of
// CFBundleVersion = "142", Flag = false, Hosts = ["velmora.fr"].
const std::vector<std::uint8_t> kBinaryInfo = {
    0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd3, 0x01, 0x03, 0x05, 0x02, 0x04, 0x06, 0x5f, 0x10,
    0x0f, 0x43, 0x46, 0x42, 0x75, 0x6e, 0x64, 0x6c, 0x65, 0x56, 0x65, 0x72, 0x73, 0x69, 0x6f, 0x6e, 0x53,
    0x31, 0x34, 0x32, 0x54, 0x46, 0x6c, 0x61, 0x67, 0x08, 0x55, 0x48, 0x6f, 0x73, 0x74, 0x73, 0xa1, 0x07,
    0x5a, 0x76, 0x65, 0x6c, 0x6d, 0x6f, 0x72, 0x61, 0x2e, 0x66, 0x72, 0x08, 0x0f, 0x21, 0x25, 0x2a, 0x2b,
    0x31, 0x33, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3e};

// Written by `plistutil -f bin` from Cl\u00e9 = "caf\u00e9": libplist keeps both as UTF-16.
const std::vector<std::uint8_t> kBinaryUtf16 = {
    0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd1, 0x01, 0x02, 0x63, 0x00, 0x43, 0x00, 0x6c,
    0x00, 0xe9, 0x64, 0x00, 0x63, 0x00, 0x61, 0x00, 0x66, 0x00, 0xe9, 0x08, 0x0b, 0x12, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1b};

// kBinaryUtf16 with the UTF-16 code unit at `offset` replaced by U+0000.
std::vector<std::uint8_t> withNulCodeUnit(std::size_t offset) {
    auto bytes = kBinaryUtf16;
    bytes[offset] = 0;
    bytes[offset + 1] = 0;
    return bytes;
}

// What was read, in one line: strings, then booleans, then string arrays.
std::string describe(const PropertyListDictionary& dictionary) {
    std::string out;
    for (const auto& [key, value] : dictionary.strings) out += key + "=\"" + value + "\" ";
    for (const auto& [key, value] : dictionary.booleans) out += key + (value ? "=true " : "=false ");
    for (const auto& [key, values] : dictionary.stringArrays) {
        out += key + "=[";
        for (const auto& value : values) out += value + (&value == &values.back() ? "" : ",");
        out += "] ";
    }
    return out;
}

TEST(ReadPropertyList, ReadsStringsBooleansAndStringArraysOfADictionary) {
    const struct {
        const char* behaviour;
        std::vector<std::uint8_t> bytes;
        std::optional<std::string> read;  // nullopt: refused
    } cases[] = {
        {"XML strings, also non-ASCII",
         xmlPlist("<dict><key>V</key><string>142</string><key>N</key><string>caf\xC3\xA9</string></dict>"),
         "N=\"caf\xC3\xA9\" V=\"142\" "},
        {"XML booleans", xmlPlist("<dict><key>On</key><true/><key>Off</key><false/></dict>"), "Off=false On=true "},
        {"XML string arrays in order",
         xmlPlist("<dict><key>H</key><array><string>b</string><string>a</string></array><key>E</key><array/></dict>"),
         "E=[] H=[b,a] "},
        // An array with anything but strings is left out whole; so are the other value types.
        {"other types left out",
         xmlPlist("<dict><key>M</key><array><string>a</string><integer>1</integer></array>"
                  "<key>I</key><integer>142</integer><key>D</key><date>2025-03-01T10:15:30Z</date>"
                  "<key>B</key><data>YQ==</data><key>R</key><real>1.5</real>"
                  "<key>N</key><dict><key>S</key><string>x</string></dict><key>S</key><string>kept</string></dict>"),
         "S=\"kept\" "},
        {"empty dictionary", xmlPlist("<dict/>"), ""},
        {"binary", kBinaryInfo, "CFBundleVersion=\"142\" Flag=false Hosts=[velmora.fr] "},
        {"binary UTF-16 key and string", kBinaryUtf16, "Cl\xC3\xA9=\"caf\xC3\xA9\" "},
        {"empty input", {}, nullopt},
        {"root array", xmlPlist("<array><string>a</string></array>"), nullopt},
        {"root string", xmlPlist("<string>a</string>"), nullopt},
        {"garbage", bytesOf("this is not a property list"), nullopt},
        {"unclosed XML dictionary", xmlPlist("<dict><key>A</key><string>a</string>"), nullopt},
        {"binary magic alone", bytesOf("bplist00"), nullopt},
        {"truncated binary", std::vector<std::uint8_t>(kBinaryInfo.begin(), kBinaryInfo.end() - 10), nullopt},
        // libplist would end the process when asked for a key or string holding NUL.
        {"NUL in a binary UTF-16 key", withNulCodeUnit(16), nullopt},
        {"NUL in a binary UTF-16 string", withNulCodeUnit(23), nullopt},
        {"NUL in an XML string", xmlPlist("<dict><key>A</key><string>a\0b</string></dict>"sv), nullopt},
        {"NUL in an XML key", xmlPlist("<dict><key>A\0</key><true/></dict>"sv), nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.behaviour);
        const auto dictionary = readPropertyList(c.bytes);
        ASSERT_EQ(dictionary.has_value(), c.read.has_value());
        if (dictionary) {
            EXPECT_EQ(describe(*dictionary), *c.read);
        }
    }
}

}  // namespace
}  // namespace foundation
