#include "platform/foundation/text.h"

#include <gtest/gtest.h>

#include <string>

namespace foundation {
namespace {

int sign(int n) { return (n > 0) - (n < 0); }

struct CompareCase {
    const char* behaviour;
    const char* a;
    const char* b;
    int order;  // -1: a before b, 0: equal, 1: a after b
};

const CompareCase kCompareCases[] = {
    {"longer number is larger", "10", "9", 1},
    {"version parts compare as numbers", "1.10", "1.9", 1},
    {"same-length numbers", "41", "42", -1},
    {"equal numbers", "100", "100", 0},
    {"number after a common prefix", "a2", "a10", -1},
    {"empty text orders first", "", "1", -1},
    {"both empty", "", "", 0},
    {"letters by code point", "abc", "abd", -1},
    {"upper case before lower case", "B", "a", -1},
    {"prefix orders first", "abc", "abcd", -1},
    {"number prefix orders first", "1.2", "1.2.1", -1},
    {"digit run longer than any integer type", "99999999999999999999999", "100000000000000000000000", -1},
    {"long equal digit runs then a difference", "123456789012345678901234567890a", "123456789012345678901234567890b",
     -1},
    {"leading zeros do not change the value", "007", "7", 0},
    {"zeros are equal to zero", "000", "0", 0},
    {"comparison goes on after equal-valued runs", "v01.2", "v1.10", -1},
    {"digit against letter by code point", "1", "a", -1},
    {"digit against dot by code point", "1", ".", 1},
    {"numbers inside words", "build12final", "build9final", 1},
    {"non-ASCII after ASCII", "\xC3\xA9", "z", 1},
    {"non-ASCII by code point", "\xC3\xA9", "\xC3\xA8", 1},
    {"different code-point lengths keep code-point order", "\xE2\x82\xAC", "\xC3\xA9", 1},
};

TEST(NumericCompare, OrdersDigitRunsByValue) {
    for (const auto& c : kCompareCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(sign(numericCompare(c.a, c.b)), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(sign(numericCompare(c.b, c.a)), -c.order) << c.b << " vs " << c.a;
    }
}

struct EncodeCase {
    const char* behaviour;
    const char* text;
    const char* encoded;
};

const EncodeCase kEncodeCases[] = {
    {"colon is escaped in upper-case hex", "payable:42", "payable%3A42"},
    {"UTF-8 bytes are escaped one by one", "\xC3\xA9", "%C3%A9"},
    {"unreserved punctuation is escaped too", "a-b_c.d~", "a%2Db%5Fc%2Ed%7E"},
    {"letters and digits stay", "AZaz09", "AZaz09"},
    {"percent sign is escaped", "100%", "100%25"},
    {"space is escaped, not a plus", "a b", "a%20b"},
    {"slash and at sign", "a/b@c", "a%2Fb%40c"},
    {"empty text", "", ""},
};

TEST(PercentEncodeIdentifier, KeepsOnlyLettersAndDigits) {
    for (const auto& c : kEncodeCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(percentEncodeIdentifier(c.text), c.encoded);
    }
}

TEST(PercentEncodeIdentifier, EscapesNulByte) { EXPECT_EQ(percentEncodeIdentifier(std::string("a\0b", 3)), "a%00b"); }

TEST(MakeUuidString, IsUpperCaseHexWithHyphens) {
    const std::string uuid = makeUuidString();
    ASSERT_EQ(uuid.size(), 36u);
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        SCOPED_TRACE(i);
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            EXPECT_EQ(uuid[i], '-');
        } else {
            const char c = uuid[i];
            EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << c;
        }
    }
    // Random (version 4) UUID.
    EXPECT_EQ(uuid[14], '4');
}

TEST(MakeUuidString, GivesAFreshValueEachTime) { EXPECT_NE(makeUuidString(), makeUuidString()); }

}  // namespace
}  // namespace foundation
