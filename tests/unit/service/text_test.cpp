#include "text.h"

#include <gtest/gtest.h>

namespace service {
namespace {

TEST(ServiceText, EncodesEntryIdsKeepingOnlyAsciiLettersAndDigits) {
    const struct {
        const char* id;
        const char* expected;
    } cases[] = {
        {"notice:7", "notice%3A7"},
        {"payable:42", "payable%3A42"},
        {"a-b_c.d~e", "a%2Db%5Fc%2Ed%7Ee"},  // unreserved marks are encoded too
        {"é", "%C3%A9"},                     // each UTF-8 byte, upper-case hex
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(percentEncodeId(c.id), c.expected) << c.id;
}

TEST(ServiceText, FormatsTimesAsUtcWithMilliseconds) {
    const struct {
        int64_t epochMs;
        const char* expected;
    } cases[] = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1767607530123, "2026-01-05T10:05:30.123Z"},
        {1767607530007, "2026-01-05T10:05:30.007Z"},  // milliseconds keep their leading zeros
    };
    for (const auto& c : cases) EXPECT_EQ(isoTimeMs(c.epochMs), c.expected) << c.epochMs;
}

TEST(ServiceText, TakesTheHostOutOfAHostHeader) {
    const struct {
        const char* header;
        const char* expected;
    } cases[] = {
        {"salon.velmora.fr", "salon.velmora.fr"},
        {"salon.velmora.fr:8443", "salon.velmora.fr"},
        {"Salon.Velmora.FR", "salon.velmora.fr"},
        {"[::1]:8443", "[::1]"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(hostWithoutPort(c.header), c.expected) << c.header;
}

TEST(ServiceText, KeepsEmbeddedJsonFromClosingTheScriptElement) {
    EXPECT_EQ(scriptSafeJson(R"({"a":"</script><b>"})"), R"({"a":"<\/script><b>"})");
    EXPECT_EQ(scriptSafeJson("\"\xE2\x80\xA8\""), "\"\\u2028\"");
}

TEST(ServiceText, MakesDistinctHexTokens) {
    const std::string a = randomToken(), b = randomToken();
    EXPECT_EQ(a.size(), 32u);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace service
