// The update files the service hands out for the updater's end-to-end tests.
#include "running_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace service::testing {
namespace {

TEST(ServiceUpdateFiles, ServesPlainNamesOfTheFolderOnThePublicSiteOnly) {
    const std::string folder = RunningService::scratchDirectory() + "/mises-a-jour";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/linux.json") << R"({"build": "101"})";
    std::ofstream(folder + "/.cache") << "caché";
    std::ofstream(folder + "/../voisin.txt") << "voisin";
    RunningService service({"--files", folder});
    ASSERT_TRUE(service.ready());
    const std::string site = service.origin("velmora.fr");

    const CurlResult feed = service.curl(site + "/mises-a-jour/linux.json");
    EXPECT_EQ(feed.status, 200);
    EXPECT_EQ(feed.body, R"({"build": "101"})");
    // A file written after the start is served too: every request reads the folder afresh.
    std::ofstream(folder + "/Velmora-101.tar.gz", std::ios::binary) << std::string("\x1f\x8b\x00\x01", 4);
    const CurlResult archive = service.curl(site + "/mises-a-jour/Velmora-101.tar.gz");
    EXPECT_EQ(archive.status, 200);
    EXPECT_EQ(archive.body, std::string("\x1f\x8b\x00\x01", 4));

    const struct {
        const char* behaviour;
        std::string path;
    } refused[] = {
        {"a file that is not there", "/mises-a-jour/absent.json"},
        {"a hidden file", "/mises-a-jour/.cache"},
        {"an escaped way out of the folder", "/mises-a-jour/..%2Fvoisin.txt"},
        {"a way out of the folder", "/mises-a-jour/../voisin.txt"},
        {"the folder itself", "/mises-a-jour/"},
    };
    for (const auto& testCase : refused) {
        SCOPED_TRACE(testCase.behaviour);
        // libsoup itself may refuse a path before it reaches the service (400); either way
        // nothing of the file system is handed out.
        const CurlResult answer = service.curl(site + testCase.path, {"--path-as-is"});
        EXPECT_TRUE(answer.status == 404 || answer.status == 400) << answer.status;
        EXPECT_EQ(answer.body.find("voisin"), std::string::npos);
        EXPECT_EQ(answer.body.find("caché"), std::string::npos);
    }
    EXPECT_NE(service.curl(service.origin("salon.velmora.fr") + "/mises-a-jour/linux.json").body,
              R"({"build": "101"})");
}

TEST(ServiceUpdateFiles, WithoutAFolderNothingIsServed) {
    RunningService service;
    ASSERT_TRUE(service.ready());
    EXPECT_EQ(service.curl(service.origin("velmora.fr") + "/mises-a-jour/linux.json").status, 404);
}

}  // namespace
}  // namespace service::testing
