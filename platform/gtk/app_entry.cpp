#include "platform/gtk/app_entry.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <utime.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/gtk/autostart.h"

namespace gtk {

namespace {

using platform::AppEntryState;

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
// Marks the entries the application writes, so that an entry the user made is never taken for one.
constexpr const char* kWrittenKey = "X-Velmora-Written";
// The program the entry starts, in the bundle's Contents/MacOS.
constexpr const char* kProgram = "Velmora";

// The path of the folders and file named by `parts`, the first one a folder's path.
std::string pathOf(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) {
        g_autofree char* joined = g_build_filename(path.c_str(), part.c_str(), nullptr);
        path = joined;
    }
    return path;
}

// The bytes of the file at `path`, or nullopt when it cannot be read.
std::optional<std::string> contentsOf(const std::string& path) {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &contents, &length, nullptr)) return std::nullopt;
    return std::string(contents, length);
}

bool exists(const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_EXISTS); }

// Whether the file at `path` is a desktop entry that the application wrote.
bool isWritten(const std::string& path) {
    g_autoptr(GKeyFile) entry = g_key_file_new();
    if (!g_key_file_load_from_file(entry, path.c_str(), G_KEY_FILE_NONE, nullptr)) return false;
    return g_key_file_get_boolean(entry, kGroup, kWrittenKey, nullptr);
}

std::string unreadableResource(const std::string& path) {
    g_autofree char* name = g_path_get_basename(path.c_str());
    return "Le fichier " + std::string(name) + " est absent du paquet de l’application ou illisible";
}

// Writes `bytes` to `path`, making the folders above it private to the user as the base directory
// rules ask; nullopt on success, the error's text otherwise.
std::optional<std::string> writeFile(const std::string& path, const std::string& bytes) {
    g_autofree char* folder = g_path_get_dirname(path.c_str());
    if (g_mkdir_with_parents(folder, 0700) != 0) return std::string(g_strerror(errno));
    // Written beside the final name and renamed over it: a reader never sees half a file.
    g_autoptr(GError) error = nullptr;
    if (!g_file_set_contents(path.c_str(), bytes.data(), static_cast<gssize>(bytes.size()), &error)) {
        return std::string(error->message);
    }
    return std::nullopt;
}

// Removes the file at `path`; one that is already gone counts as removed.
std::optional<std::string> removeFile(const std::string& path) {
    if (g_remove(path.c_str()) == 0 || errno == ENOENT) return std::nullopt;
    return std::string(g_strerror(errno));
}

// Tells the icon theme's readers that the theme changed, as the icon theme rules ask of whoever
// adds or removes icons: GTK and the shell look at the theme's folders again once its time has
// changed, and set aside a cache file older than the folder. So no gtk-update-icon-cache is run,
// and a cache that someone made in the user's theme cannot hide the new icon.
void touchTheme(const std::string& folder) { g_utime(folder.c_str(), nullptr); }

}  // namespace

XdgAppEntry::XdgAppEntry(std::string bundlePath, std::string applicationId, std::string userDataDirectory,
                         std::vector<std::string> systemDataDirectories)
    : bundlePath_(std::move(bundlePath)),
      applicationId_(std::move(applicationId)),
      userDataDirectory_(std::move(userDataDirectory)),
      systemDataDirectories_(std::move(systemDataDirectories)) {}

std::string XdgAppEntry::userDataDirectory() { return g_get_user_data_dir(); }

std::vector<std::string> XdgAppEntry::systemDataDirectories() {
    std::vector<std::string> folders;
    for (const char* const* folder = g_get_system_data_dirs(); *folder; ++folder) folders.emplace_back(*folder);
    return folders;
}

std::string XdgAppEntry::entryPath(const std::string& dataDirectory) const {
    return pathOf({dataDirectory, "applications", applicationId_ + ".desktop"});
}

std::string XdgAppEntry::themeFolder() const { return pathOf({userDataDirectory_, "icons", "hicolor"}); }

std::string XdgAppEntry::resource(const std::string& name) const {
    return pathOf({bundlePath_, "Contents", "Resources", name});
}

std::vector<XdgAppEntry::IconFile> XdgAppEntry::iconFiles() const {
    const std::string theme = themeFolder();
    return {
        {resource(applicationId_ + ".svg"), pathOf({theme, "scalable", "apps", applicationId_ + ".svg"})},
        {resource(applicationId_ + "-128.png"), pathOf({theme, "128x128", "apps", applicationId_ + ".png"})},
        {resource(applicationId_ + "-256.png"), pathOf({theme, "256x256", "apps", applicationId_ + ".png"})},
    };
}

// The bundle's own entry, which names the package's place, made to start this copy's program.
std::optional<std::string> XdgAppEntry::entryText() const {
    const std::string program = pathOf({bundlePath_, "Contents", "MacOS", kProgram});
    g_autoptr(GKeyFile) entry = g_key_file_new();
    if (!g_key_file_load_from_file(entry, resource(applicationId_ + ".desktop").c_str(),
                                   static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
                                   nullptr) ||
        !g_key_file_has_group(entry, kGroup)) {
        return std::nullopt;
    }
    // GKeyFile escapes the string values as the format asks; the Exec quoting comes before that.
    g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, quoteExecArgument(program).c_str());
    // With this copy deleted, menus leave the entry out instead of offering a program that is gone.
    g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, program.c_str());
    g_key_file_set_boolean(entry, kGroup, kWrittenKey, TRUE);
    return entryTextWithComment(
        entry,
        " Écrit par Velmóra : le nom et l’icône de l’application pour le bureau.\n"
        " Velmóra le récrit quand elle change de place et le retire quand le paquet est installé.");
}

// Whether the user's entry and icons are byte for byte what this copy would write now.
bool XdgAppEntry::inStep() const {
    if (bundlePath_.empty()) return false;
    const std::optional<std::string> text = entryText();
    if (!text || contentsOf(entryPath(userDataDirectory_)) != text) return false;
    return std::ranges::all_of(iconFiles(), [](const IconFile& icon) {
        const std::optional<std::string> source = contentsOf(icon.source);
        return source && contentsOf(icon.destination) == source;
    });
}

AppEntryState XdgAppEntry::state() const {
    const std::string userEntry = entryPath(userDataDirectory_);
    const bool written = isWritten(userEntry);
    if (!written && exists(userEntry)) return AppEntryState::UsersOwn;
    // A data folder of the user's that is also listed among the shared ones holds no package's entry.
    const bool packaged = std::ranges::any_of(systemDataDirectories_, [&](const std::string& folder) {
        return folder != userDataDirectory_ && exists(entryPath(folder));
    });
    if (packaged) return written ? AppEntryState::WrittenOverSystem : AppEntryState::System;
    if (!written) return AppEntryState::Missing;
    return inStep() ? AppEntryState::ThisCopy : AppEntryState::OutOfStep;
}

std::optional<std::string> XdgAppEntry::installThisCopy() {
    if (bundlePath_.empty()) return std::string("L’emplacement de l’application est inconnu");
    // A desktop entry is UTF-8 text throughout: a path in another encoding cannot be written there.
    if (!g_utf8_validate(bundlePath_.data(), static_cast<gssize>(bundlePath_.size()), nullptr)) {
        g_autofree char* shown = g_utf8_make_valid(bundlePath_.c_str(), -1);
        return "Le chemin « " + std::string(shown) + " » ne peut pas figurer dans une entrée de bureau";
    }
    const std::optional<std::string> text = entryText();
    if (!text) return unreadableResource(resource(applicationId_ + ".desktop"));
    std::vector<std::pair<std::string, std::string>> icons;
    for (const IconFile& icon : iconFiles()) {
        std::optional<std::string> bytes = contentsOf(icon.source);
        if (!bytes) return unreadableResource(icon.source);
        icons.emplace_back(icon.destination, std::move(*bytes));
    }
    // The icons first: once the entry appears, the desktop finds the icon it names.
    for (const auto& [destination, bytes] : icons) {
        if (auto error = writeFile(destination, bytes)) return error;
    }
    touchTheme(themeFolder());
    return writeFile(entryPath(userDataDirectory_), *text);
}

std::optional<std::string> XdgAppEntry::removeWritten() {
    const std::string userEntry = entryPath(userDataDirectory_);
    if (!isWritten(userEntry)) return std::nullopt;
    if (auto error = removeFile(userEntry)) return error;
    // The icons came with the entry and would hide the package's icons of the same name.
    for (const IconFile& icon : iconFiles()) {
        if (auto error = removeFile(icon.destination)) return error;
    }
    touchTheme(themeFolder());
    return std::nullopt;
}

}  // namespace gtk
