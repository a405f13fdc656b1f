// An installation of an update archive over a bundle, made the way the updater makes it, that
// stops dead (SIGKILL, as a crash or a power cut would) after one of its steps:
//
//     velmora-swap-crash BUNDLE ARCHIVE STEP
//
// STEP is "unpacked", "flushed", "exchanged" or "helper-started"; "none" goes through to the end,
// where the updater would quit. The archive's signature is not checked here: what is tested is
// what the steps leave on disk, and what the relaunch helper and the next launch make of it.
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>
#include <variant>
#include <vector>

#include "platform/gtk/app_bundle.h"
#include "platform/gtk/system_services.h"
#include "platform/gtk/updater/update_install.h"

namespace {

void stopDeadAfter(const std::string& step, const std::string& crashStep) {
    if (step == crashStep) ::raise(SIGKILL);
}

int install(const std::string& bundle, const char* archivePath, const std::string& crashStep) {
    std::ifstream file(archivePath, std::ios::binary);
    const std::vector<std::uint8_t> archive((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

    const gtk::AppBundle info(bundle);
    gtk::DetachedProcesses processes;
    const gtk::RunningCopy running{bundle, info.infoString("CFBundleVersion").value_or(""),
                                   info.infoString("CFBundleIdentifier").value_or(""), processes.processIdentifier()};

    auto unpacked = gtk::unpackUpdate(archive, running);
    if (const auto* reason = std::get_if<std::string>(&unpacked)) {
        std::fprintf(stderr, "%s\n", reason->c_str());
        return 1;
    }
    const auto& staged = std::get<gtk::StagedUpdate>(unpacked);
    stopDeadAfter("unpacked", crashStep);
    if (const auto reason = gtk::flushStagedUpdate(staged)) {
        std::fprintf(stderr, "%s\n", reason->c_str());
        return 1;
    }
    stopDeadAfter("flushed", crashStep);
    const auto failure = gtk::swapInStagedUpdate(
        staged, running, [&crashStep] { stopDeadAfter("exchanged", crashStep); },
        [&processes](const std::string& program, const std::vector<std::string>& arguments) {
            return processes.launch(program, arguments);
        });
    if (failure) {
        std::fprintf(stderr, "%s\n", failure->c_str());
        return 1;
    }
    stopDeadAfter("helper-started", crashStep);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: velmora-swap-crash BUNDLE ARCHIVE STEP\n");
        return 2;
    }
    try {
        return install(argv[1], argv[2], argv[3]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
