#include "platform/foundation/text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>
#include <string_view>

namespace foundation {
namespace {

using namespace std::literals;

int sign(int n) { return (n > 0) - (n < 0); }

// `row` reads "a < b", "a = b" or "a > b"; it is checked both ways round.
void expectOrder(const std::string& row) {
    const std::size_t at = row.find_first_of("<=>", row.find(' '));
    const std::string a = row.substr(0, at - 1), b = row.substr(at + 2);
    const int order = row[at] == '<' ? -1 : row[at] == '>' ? 1 : 0;
    EXPECT_EQ(sign(numericCompare(a, b)), order) << row;
    EXPECT_EQ(sign(numericCompare(b, a)), -order) << row;
}

TEST(NumericCompare, OrdersDigitRunsByValue) {
    for (const char* row : {"10 > 9", "1.10 > 1.9", "41 < 42", "a2 < a10", "build12 > build9", " < 1", " = ",
                            "100 = 100", "007 = 7", "000 = 0", "v01.2 < v1.10", "1.2 < 1.2.1",
                            "99999999999999999999 < 100000000000000000000",  // longer than any integer type
                            "123456789012345678901a < 123456789012345678901b"}) {
        expectOrder(row);
    }
}

TEST(NumericCompare, OrdersEverythingElseByCodePoint) {
    for (const char* row : {"abc < abd", "B < a", "abc < abcd", "1 < a", "1 > .", "\xC3\xA9 > z", "\xC3\xA9 > \xC3\xA8",
                            "\xE2\x82\xAC > \xC3\xA9"}) {  // also across UTF-8 lengths
        expectOrder(row);
    }
}

TEST(PercentEncodeIdentifier, KeepsOnlyAsciiLettersAndDigits) {
    const struct {
        std::string_view text;
        const char* encoded;
    } cases[] = {
        {"payable:42", "payable%3A42"},
        {"\xC3\xA9", "%C3%A9"},
        {"a-b_c.d~", "a%2Db%5Fc%2Ed%7E"},
        {"AZaz09", "AZaz09"},
        {"100% a/b@c", "100%25%20a%2Fb%40c"},
        {"a\0b"sv, "a%00b"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(percentEncodeIdentifier(c.text), c.encoded) << c.text;
}

TEST(MakeUuidString, GivesFreshRandomUuidsInUpperCaseHex) {
    // Enough of them that every hex letter shows up, whatever the random draw.
    std::set<std::string> seen;
    for (int n = 0; n < 32; ++n) {
        const std::string uuid = makeUuidString();
        ASSERT_EQ(uuid.size(), 36u);
        for (std::size_t i = 0; i < uuid.size(); ++i) {
            const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
            EXPECT_EQ(uuid[i] == '-', hyphen) << uuid;
            EXPECT_TRUE(hyphen || std::isdigit(uuid[i]) || (uuid[i] >= 'A' && uuid[i] <= 'F')) << uuid;
        }
        EXPECT_EQ(uuid[14], '4');  // version 4, random
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 32u);
}

}  // namespace
}  // namespace foundation
