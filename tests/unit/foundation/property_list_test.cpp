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

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::string xmlPlist(std::string_view body) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
               "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n") +
           std::string(body) + "\n</plist>\n";
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

struct ReadCase {
    const char* behaviour;
    std::vector<std::uint8_t> bytes;
    std::map<std::string, std::string> strings;
    std::map<std::string, bool> booleans;
    std::map<std::string, std::vector<std::string>> stringArrays;
};

const ReadCase kReadCases[] = {
    {"XML string value is read",
     bytesOf(xmlPlist("<dict><key>CFBundleVersion</key><string>142</string></dict>")),
     {{"CFBundleVersion", "142"}},
     {},
     {}},
    {"integer value is not taken for a string",
     bytesOf(xmlPlist("<dict><key>CFBundleVersion</key><integer>142</integer></dict>")),
     {},
     {},
     {}},
    {"booleans are read",
     bytesOf(xmlPlist("<dict><key>On</key><true/><key>Off</key><false/></dict>")),
     {},
     {{"On", true}, {"Off", false}},
     {}},
    {"array of strings is read in order",
     bytesOf(xmlPlist("<dict><key>Hosts</key><array><string>b</string><string>a</string>"
                      "</array></dict>")),
     {},
     {},
     {{"Hosts", {"b", "a"}}}},
    {"empty array is an empty array of strings",
     bytesOf(xmlPlist("<dict><key>Hosts</key><array/></dict>")),
     {},
     {},
     {{"Hosts", {}}}},
    {"array holding a non-string is left out",
     bytesOf(xmlPlist("<dict><key>Mixed</key><array><string>a</string><integer>1</integer>"
                      "</array></dict>")),
     {},
     {},
     {}},
    {"dates, data, reals and nested dictionaries are left out",
     bytesOf(xmlPlist("<dict><key>D</key><date>2025-03-01T10:15:30Z</date>"
                      "<key>B</key><data>YQ==</data><key>R</key><real>1.5</real>"
                      "<key>N</key><dict><key>S</key><string>x</string></dict>"
                      "<key>S</key><string>kept</string></dict>")),
     {{"S", "kept"}},
     {},
     {}},
    {"non-ASCII string is read as UTF-8",
     bytesOf(xmlPlist("<dict><key>Name</key><string>Velmora caf\xC3\xA9</string></dict>")),
     {{"Name", "Velmora caf\xC3\xA9"}},
     {},
     {}},
    {"empty dictionary", bytesOf(xmlPlist("<dict/>")), {}, {}, {}},
    {"binary property list is read",
     kBinaryInfo,
     {{"CFBundleVersion", "142"}},
     {{"Flag", false}},
     {{"Hosts", {"velmora.fr"}}}},
    {"binary UTF-16 key and string are read as UTF-8", kBinaryUtf16, {{"Cl\xC3\xA9", "caf\xC3\xA9"}}, {}, {}},
};

TEST(ReadPropertyList, ReadsStringsBooleansAndStringArrays) {
    for (const auto& c : kReadCases) {
        SCOPED_TRACE(c.behaviour);
        const auto dictionary = readPropertyList(c.bytes);
        ASSERT_TRUE(dictionary.has_value());
        EXPECT_EQ(dictionary->strings, c.strings);
        EXPECT_EQ(dictionary->booleans, c.booleans);
        EXPECT_EQ(dictionary->stringArrays, c.stringArrays);
    }
}

struct RefuseCase {
    const char* behaviour;
    std::vector<std::uint8_t> bytes;
};

const RefuseCase kRefuseCases[] = {
    {"empty input", {}},
    {"root array", bytesOf(xmlPlist("<array><string>a</string></array>"))},
    {"root string", bytesOf(xmlPlist("<string>a</string>"))},
    {"garbage text", bytesOf("this is not a property list")},
    {"unclosed XML dictionary", bytesOf(xmlPlist("<dict><key>A</key><string>a</string>"))},
    {"binary magic alone", bytesOf("bplist00")},
    {"truncated binary property list", std::vector<std::uint8_t>(kBinaryInfo.begin(), kBinaryInfo.end() - 10)},
    // libplist would end the process when asked for such a key or string.
    {"binary UTF-16 key holding a NUL character", withNulCodeUnit(16)},
    {"binary UTF-16 string holding a NUL character", withNulCodeUnit(23)},
    {"XML string holding a NUL byte",
     bytesOf(xmlPlist(std::string("<dict><key>A</key><string>a") + '\0' + "b</string></dict>"))},
    {"XML key holding a NUL byte", bytesOf(xmlPlist(std::string("<dict><key>A") + '\0' + "</key><true/></dict>"))},
};

TEST(ReadPropertyList, RefusesWhatIsNotADictionaryPropertyList) {
    for (const auto& c : kRefuseCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_FALSE(readPropertyList(c.bytes).has_value());
    }
}

}  // namespace
}  // namespace foundation
