#include "platform/gtk/autostart.h"

#include <gio/gio.h>

#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "platform/foundation/property_list.h"

namespace gtk {

namespace {

using platform::LoginServiceStatus;

constexpr const char* kGroup = G_KEY_FILE_DESKTOP_GROUP;
constexpr std::string_view kPlistSuffix = ".plist";

// The characters that the Desktop Entry format reserves: an argument holding one must be quoted.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#`()";
// The characters that stay special inside double quotes and take a backslash there.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

std::string pathIn(const std::string& folder, const std::string& name) {
    g_autofree char* path = g_build_filename(folder.c_str(), name.c_str(), nullptr);
    return path;
}

// The desktop entry at `path`; nullptr when it is missing, unreadable or no desktop entry.
GKeyFile* readEntry(const std::string& path) {
    g_autoptr(GKeyFile) entry = g_key_file_new();
    if (!g_key_file_load_from_file(entry, path.c_str(), G_KEY_FILE_NONE, nullptr)) return nullptr;
    if (!g_key_file_has_group(entry, kGroup)) return nullptr;
    return static_cast<GKeyFile*>(g_steal_pointer(&entry));
}

// Whether the session starts the program of `entry` (nullptr: no entry): not when the entry is
// hidden or switched off by the GNOME key that other desktops honour too.
bool sessionStarts(GKeyFile* entry) {
    if (!entry) return false;
    // A value that is not a Boolean reads as absent, as GLib's readers of these keys treat it.
    g_autoptr(GError) hiddenError = nullptr;
    const bool hidden = g_key_file_get_boolean(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_HIDDEN, &hiddenError);
    if (!hiddenError && hidden) return false;
    g_autoptr(GError) enabledError = nullptr;
    const bool enabled = g_key_file_get_boolean(entry, kGroup, "X-GNOME-Autostart-enabled", &enabledError);
    return enabledError || enabled;
}

// The program that `entry` starts: TryExec when it names one, as the session checks that one
// before it starts anything, otherwise the first word of Exec. Exec is read as quoteExecArgument
// writes it: "%%" stands for "%", and the rest is a command line in the shell's quoting. nullopt
// when the entry names no program.
std::optional<std::string> programOf(GKeyFile* entry) {
    g_autofree char* tryExec = g_key_file_get_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, nullptr);
    if (tryExec && *tryExec) return std::string(tryExec);
    g_autofree char* exec = g_key_file_get_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, nullptr);
    if (!exec) return std::nullopt;
    std::string commandLine;
    for (const char* c = exec; *c; ++c) {
        commandLine += *c;
        if (c[0] == '%' && c[1] == '%') ++c;
    }
    g_auto(GStrv) arguments = nullptr;
    if (!g_shell_parse_argv(commandLine.c_str(), nullptr, &arguments, nullptr)) return std::nullopt;
    return std::string(arguments[0]);
}

// Whether `program` can be started: an executable file at that path, or, for a bare name, on
// the search path, as the session looks for it.
bool isStartable(const std::string& program) {
    g_autofree char* found = g_find_program_in_path(program.c_str());
    return found != nullptr;
}

// Removes the entry at `path`; an entry that is already gone counts as removed.
std::optional<std::string> deleteEntry(const std::string& path) {
    g_autoptr(GFile) file = g_file_new_for_path(path.c_str());
    g_autoptr(GError) error = nullptr;
    if (g_file_delete(file, nullptr, &error) || g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND)) {
        return std::nullopt;
    }
    return std::string(error->message);
}

// Creates `folder` and the folders above it as needed.
std::optional<std::string> makeFolder(const std::string& folder) {
    g_autoptr(GFile) file = g_file_new_for_path(folder.c_str());
    g_autoptr(GError) error = nullptr;
    if (g_file_make_directory_with_parents(file, nullptr, &error) ||
        g_error_matches(error, G_IO_ERROR, G_IO_ERROR_EXISTS)) {
        return std::nullopt;
    }
    return std::string(error->message);
}

// The program and arguments that the launch agent property list at `plistPath` describes, the
// program made absolute against `bundlePath`; nullopt when the list is missing, unreadable or
// names no program.
std::optional<std::vector<std::string>> agentCommand(const std::string& bundlePath, const std::string& plistPath) {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(plistPath.c_str(), &contents, &length, nullptr)) return std::nullopt;
    const auto plist = foundation::readPropertyList(std::span(reinterpret_cast<const std::uint8_t*>(contents), length));
    if (!plist) return std::nullopt;
    const auto arguments = plist->stringArrays.find("ProgramArguments");
    if (arguments == plist->stringArrays.end() || arguments->second.empty() || arguments->second.front().empty()) {
        return std::nullopt;
    }
    std::vector<std::string> command = arguments->second;
    // The list names the program relative to the bundle, which keeps the bundle relocatable; the
    // entry needs the path of this copy.
    if (!g_path_is_absolute(command.front().c_str())) command.front() = pathIn(bundlePath, command.front());
    return command;
}

// The agent's entry: written from the bundle's launch agent property list, removed on request.
class AgentEntry final : public platform::LoginService {
public:
    AgentEntry(std::string plistName, std::string folder, std::string entryName,
               std::optional<std::vector<std::string>> command)
        : plistName_(std::move(plistName)),
          folder_(std::move(folder)),
          entryName_(std::move(entryName)),
          command_(std::move(command)) {}

    LoginServiceStatus status() const override {
        if (!command_) return LoginServiceStatus::NotFound;
        g_autoptr(GKeyFile) entry = readEntry(pathIn(folder_, entryName_));
        if (!sessionStarts(entry)) return LoginServiceStatus::NotRegistered;
        // Every copy of the bundle writes the same entry: it is this copy's registration only
        // when it starts this copy's launcher.
        const std::optional<std::string> program = programOf(entry);
        if (program == command_->front()) return LoginServiceStatus::Enabled;
        // Another installed copy keeps its entry until the user switches login start on here.
        if (program && isStartable(*program)) return LoginServiceStatus::NotRegistered;
        return LoginServiceStatus::StartsMissingProgram;
    }

    std::optional<std::string> registerService() override {
        if (!command_) {
            return "Le fichier " + plistName_ + " est absent du paquet de l’application ou illisible";
        }
        if (auto error = unwritableArgument()) return error;
        if (auto error = makeFolder(folder_)) return error;
        const std::string text = entryText();
        // Written beside the final name and renamed over it, so the session never reads half an entry.
        g_autoptr(GError) error = nullptr;
        if (!g_file_set_contents(pathIn(folder_, entryName_).c_str(), text.data(), static_cast<gssize>(text.size()),
                                 &error)) {
            return std::string(error->message);
        }
        return std::nullopt;
    }

    std::optional<std::string> unregisterService() override {
        // A name that the plist name could not give never had an entry written under it.
        if (entryName_.empty()) return std::nullopt;
        return deleteEntry(pathIn(folder_, entryName_));
    }

private:
    // The error for an argument that an entry cannot carry: a desktop entry is UTF-8 text
    // throughout, so a path in another encoding cannot be written there.
    std::optional<std::string> unwritableArgument() const {
        for (const std::string& argument : *command_) {
            if (!g_utf8_validate(argument.data(), static_cast<gssize>(argument.size()), nullptr)) {
                g_autofree char* shown = g_utf8_make_valid(argument.c_str(), -1);
                return "Le chemin « " + std::string(shown) +
                       " » ne peut pas figurer dans une entrée de démarrage automatique";
            }
        }
        return std::nullopt;
    }

    std::string entryText() const {
        g_autoptr(GKeyFile) entry = g_key_file_new();
        // GKeyFile escapes every string value as the format asks (backslashes doubled, line breaks
        // and a leading blank escaped); the Exec quoting of each argument comes before that.
        g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_TYPE, G_KEY_FILE_DESKTOP_TYPE_APPLICATION);
        g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_NAME, "Velmóra (arrière-plan)");
        g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_COMMENT,
                              "Reçoit les notifications Velmóra dès l’ouverture de session, sans fenêtre");
        g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_EXEC, execCommandLine(*command_).c_str());
        // With the bundle deleted, the session skips the entry instead of failing to start it.
        g_key_file_set_string(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_TRY_EXEC, command_->front().c_str());
        g_key_file_set_boolean(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
        g_key_file_set_boolean(entry, kGroup, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, TRUE);
        g_key_file_set_boolean(entry, kGroup, "X-GNOME-Autostart-enabled", TRUE);
        return entryTextWithComment(entry,
                                    " Écrit par Velmóra : démarre Velmóra en arrière-plan à l’ouverture de session.\n"
                                    " Le menu Velmóra > Démarrage automatique l’ajoute et le retire.");
    }

    std::string plistName_;
    std::string folder_;
    std::string entryName_;
    std::optional<std::vector<std::string>> command_;
};

// The application's own entry from the older arrangement: read and removed, never written again.
class MainAppEntry final : public platform::LoginService {
public:
    explicit MainAppEntry(std::string path) : path_(std::move(path)) {}

    LoginServiceStatus status() const override {
        g_autoptr(GKeyFile) entry = readEntry(path_);
        return sessionStarts(entry) ? LoginServiceStatus::Enabled : LoginServiceStatus::NotRegistered;
    }
    std::optional<std::string> registerService() override {
        return std::string("Velmóra ne s’inscrit plus elle-même à l’ouverture de session");
    }
    std::optional<std::string> unregisterService() override { return deleteEntry(path_); }

private:
    std::string path_;
};

// The entry name for the property list `plistName`, or "" when that is no plain file name of a
// property list (a name reaching into another folder would let the entry land outside ours).
std::string entryNameFor(const std::string& plistName) {
    if (plistName.size() <= kPlistSuffix.size() || !plistName.ends_with(kPlistSuffix)) return {};
    if (plistName.find('/') != std::string::npos || plistName.front() == '.') return {};
    return plistName.substr(0, plistName.size() - kPlistSuffix.size()) + ".desktop";
}

}  // namespace

// Written here because GLib's g_shell_quote() puts arguments in single quotes, which the Desktop
// Entry format does not know; readers that follow the format would keep the quotes as text.
std::string quoteExecArgument(std::string_view argument) {
    const bool quoted = argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
    std::string result;
    if (quoted) result += '"';
    for (const char c : argument) {
        if (c == '%') {
            result += "%%";
            continue;
        }
        if (quoted && kEscapedInQuotes.find(c) != std::string_view::npos) result += '\\';
        result += c;
    }
    if (quoted) result += '"';
    return result;
}

std::string execCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) line += ' ';
        line += quoteExecArgument(argument);
    }
    return line;
}

std::string entryTextWithComment(GKeyFile* entry, const char* comment) {
    g_key_file_set_comment(entry, nullptr, nullptr, comment, nullptr);
    gsize length = 0;
    g_autofree char* data = g_key_file_to_data(entry, &length, nullptr);
    return {data, length};
}

XdgLoginItems::XdgLoginItems(std::string bundlePath, std::string bundleIdentifier, std::string autostartDirectory)
    : bundlePath_(std::move(bundlePath)),
      bundleIdentifier_(std::move(bundleIdentifier)),
      autostartDirectory_(std::move(autostartDirectory)) {}

std::string XdgLoginItems::userAutostartDirectory() { return pathIn(g_get_user_config_dir(), "autostart"); }

std::unique_ptr<platform::LoginService> XdgLoginItems::agentService(const std::string& plistName) {
    const std::string entryName = entryNameFor(plistName);
    std::optional<std::vector<std::string>> command;
    if (!entryName.empty() && !bundlePath_.empty()) {
        g_autofree char* plistPath =
            g_build_filename(bundlePath_.c_str(), "Contents", "Library", "LaunchAgents", plistName.c_str(), nullptr);
        command = agentCommand(bundlePath_, plistPath);
    }
    return std::make_unique<AgentEntry>(plistName, autostartDirectory_, entryName, std::move(command));
}

std::unique_ptr<platform::LoginService> XdgLoginItems::mainAppService() {
    return std::make_unique<MainAppEntry>(pathIn(autostartDirectory_, bundleIdentifier_ + ".desktop"));
}

void XdgLoginItems::openSystemSettingsLoginItems() {}

}  // namespace gtk
