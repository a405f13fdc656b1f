#include "platform/gtk/app_bundle.h"

#include <glib.h>

#include <cstdint>
#include <span>
#include <utility>

namespace gtk {

namespace {

std::string pathInBundle(const std::string& bundle, const char* folder, const std::string& name) {
    g_autofree char* path = g_build_filename(bundle.c_str(), "Contents", folder, name.c_str(), nullptr);
    return path;
}

foundation::PropertyListDictionary readInfo(const std::string& bundle) {
    g_autofree char* infoPath = g_build_filename(bundle.c_str(), "Contents", "Info.plist", nullptr);
    g_autofree char* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(infoPath, &contents, &length, nullptr)) {
        return {};
    }
    const std::span bytes(reinterpret_cast<const std::uint8_t*>(contents), length);
    return foundation::readPropertyList(bytes).value_or(foundation::PropertyListDictionary{});
}

}  // namespace

AppBundle::AppBundle(std::string bundlePath) : path(std::move(bundlePath)), info(readInfo(path)) {}

std::unique_ptr<AppBundle> AppBundle::fromRunningExecutable() {
    g_autofree char* executable = g_file_read_link("/proc/self/exe", nullptr);
    if (!executable) {
        return nullptr;
    }
    return std::make_unique<AppBundle>(bundlePathOfExecutable(executable));
}

std::string AppBundle::bundlePathOfExecutable(const std::string& executablePath) {
    g_autofree char* macOS = g_path_get_dirname(executablePath.c_str());
    g_autofree char* contents = g_path_get_dirname(macOS);
    g_autofree char* bundle = g_path_get_dirname(contents);
    return bundle;
}

std::optional<std::string> AppBundle::infoString(const std::string& key) const {
    const auto found = info.strings.find(key);
    if (found == info.strings.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string AppBundle::resourcePath(const std::string& name) const { return pathInBundle(path, "Resources", name); }

std::string AppBundle::executablePath(const std::string& name) const { return pathInBundle(path, "MacOS", name); }

}  // namespace gtk
