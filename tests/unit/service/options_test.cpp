// The command line and the text helpers of velmora-service.
#include "options.h"
#include "text.h"

#include <gtest/gtest.h>

namespace service {
namespace {

TEST(ServiceOptions, DefaultsServeTheDemoInstanceOnLoopbackAndInstancesReplaceThem) {
    const auto defaults = std::get<Options>(parseOptions({}));
    EXPECT_EQ(defaults.port, 8443);
    EXPECT_EQ(defaults.publicHost, "velmora.fr");
    EXPECT_EQ(defaults.instanceHosts, std::vector<std::string>{"salon.velmora.fr"});
    EXPECT_EQ(defaults.listenAddress, "127.0.0.1");
    EXPECT_TRUE(defaults.certFile.empty() && defaults.stateFile.empty() && defaults.updateFilesDir.empty());
    const auto given =
        std::get<Options>(parseOptions({"--instance", "a.velmora.fr", "--instance", "b.velmora.fr", "--port", "0"}));
    EXPECT_EQ(given.instanceHosts, (std::vector<std::string>{"a.velmora.fr", "b.velmora.fr"}));
    EXPECT_EQ(given.port, 0);
}

TEST(ServiceOptions, RefusesUnusableCommandLinesAndAddressesBeyondLoopback) {
    for (const char* address : {"127.0.0.1", "127.0.0.2", "::1"}) {
        EXPECT_TRUE(std::holds_alternative<Options>(parseOptions({"--listen", address}))) << address;
    }
    const std::vector<std::vector<std::string>> refused = {
        {"--listen", "0.0.0.0"},
        {"--listen", "::"},
        {"--listen", "192.168.1.2"},
        {"--listen", "localhost"},  // a name is not an address
        {"--port", "65536"},
        {"--port", "-1"},
        {"--port", "vite"},
        {"--cert", "server.pem"},  // a certificate without its key
        {"--key", "server.key"},
        {"--instance", "Salon.velmora.fr"},
        {"--instance", "velmora.fr"},  // the public host cannot be an instance
        {"--public-host", "velmora..fr"},
        {"--bavard"},
        {"argument-en-trop"},
    };
    for (const auto& arguments : refused) {
        EXPECT_TRUE(std::holds_alternative<std::string>(parseOptions(arguments))) << arguments.back();
    }
}

TEST(ServiceText, EncodesIdsFormatsTimesAndTakesHostsOutOfHeaders) {
    // Every byte but ASCII letters and digits, in upper-case hex, unreserved marks too.
    EXPECT_EQ(percentEncodeId("payable:42"), "payable%3A42");
    EXPECT_EQ(percentEncodeId("a-b_c.d~é"), "a%2Db%5Fc%2Ed%7E%C3%A9");
    EXPECT_EQ(percentEncodeId(""), "");
    EXPECT_EQ(isoTimeMs(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(isoTimeMs(1767607530123), "2026-01-05T10:05:30.123Z");
    EXPECT_EQ(isoTimeMs(1767607530007), "2026-01-05T10:05:30.007Z");
    for (const auto& [header, host] :
         std::vector<std::pair<std::string, std::string>>{{"salon.velmora.fr", "salon.velmora.fr"},
                                                          {"salon.velmora.fr:8443", "salon.velmora.fr"},
                                                          {"Salon.Velmora.FR", "salon.velmora.fr"},
                                                          {"[::1]:8443", "[::1]"},
                                                          {"", ""}}) {
        EXPECT_EQ(hostWithoutPort(header), host) << header;
    }
}

TEST(ServiceText, KeepsEmbeddedJsonFromClosingTheScriptAndMakesDistinctTokens) {
    EXPECT_EQ(scriptSafeJson(R"({"a":"</script><b>"})"), R"({"a":"<\/script><b>"})");
    EXPECT_EQ(scriptSafeJson("\"\xE2\x80\xA8\""), "\"\\u2028\"");
    const std::string token = randomToken();
    EXPECT_EQ(token.size(), 32u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(randomToken(), token);
}

}  // namespace
}  // namespace service
