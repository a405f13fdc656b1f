#include "options.h"

#include <gtest/gtest.h>

namespace service {
namespace {

TEST(ServiceOptions, DefaultsServeTheDemoInstanceOnLoopback) {
    auto parsed = parseOptions({});
    ASSERT_TRUE(std::holds_alternative<Options>(parsed));
    const auto& options = std::get<Options>(parsed);
    EXPECT_EQ(options.port, 8443);
    EXPECT_EQ(options.publicHost, "velmora.fr");
    EXPECT_EQ(options.instanceHosts, std::vector<std::string>{"salon.velmora.fr"});
    EXPECT_EQ(options.listenAddress, "127.0.0.1");
    EXPECT_TRUE(options.certFile.empty());
    EXPECT_TRUE(options.stateFile.empty());
}

TEST(ServiceOptions, RepeatedInstancesReplaceTheDefault) {
    auto parsed = parseOptions({"--instance", "a.velmora.fr", "--instance", "b.velmora.fr", "--port", "0"});
    ASSERT_TRUE(std::holds_alternative<Options>(parsed));
    const auto& options = std::get<Options>(parsed);
    EXPECT_EQ(options.instanceHosts, (std::vector<std::string>{"a.velmora.fr", "b.velmora.fr"}));
    EXPECT_EQ(options.port, 0);
}

TEST(ServiceOptions, AcceptsLoopbackAddressesOnly) {
    const struct {
        const char* address;
        bool accepted;
    } cases[] = {
        {"127.0.0.1", true}, {"127.0.0.2", true},    {"::1", true},        {"0.0.0.0", false},
        {"::", false},       {"192.168.1.2", false}, {"localhost", false},  // a name is not an address
    };
    for (const auto& c : cases) {
        auto parsed = parseOptions({"--listen", c.address});
        EXPECT_EQ(std::holds_alternative<Options>(parsed), c.accepted) << c.address;
    }
}

TEST(ServiceOptions, RefusesUnusableCommandLines) {
    const std::vector<std::vector<std::string>> cases = {
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
    for (const auto& arguments : cases) {
        auto parsed = parseOptions(arguments);
        EXPECT_TRUE(std::holds_alternative<std::string>(parsed)) << arguments.front();
    }
}

}  // namespace
}  // namespace service
