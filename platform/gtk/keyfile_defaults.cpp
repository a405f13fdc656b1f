#include "platform/gtk/keyfile_defaults.h"

#include <gio/gio.h>

#include <string>
#include <utility>

// The file holds one group, "Velmora". Each entry's key is the value's type, a colon and the
// caller's key, so that a string never reads as an array or a Boolean, and storing a value of
// one type under a key removes the values of the other types:
//
//     [Velmora]
//     string:VelmoraInstanceHost=velmora.fr
//     stringArray:VelmoraRecentHosts=a.velmora.fr;b\;c.velmora.fr;
//     boolean:VelmoraStartsAtLogin=true
//
// The caller's key is percent-encoded (everything but ASCII letters, digits and "-._~"), which
// keeps ordinary keys readable and makes any key a valid key-file key that cannot contain the
// colon. Strings and list elements are escaped by GKeyFile itself, the list separator included.
// GKeyFile can only carry UTF-8 text without NUL bytes; a string or an array holding anything
// else is kept Base64-encoded under the types "string-base64" and "stringArray-base64", so
// every value comes back byte for byte.

namespace gtk {

namespace {

constexpr const char* kGroup = "Velmora";
constexpr const char* kString = "string";
constexpr const char* kStringBase64 = "string-base64";
constexpr const char* kStringArray = "stringArray";
constexpr const char* kStringArrayBase64 = "stringArray-base64";
constexpr const char* kBoolean = "boolean";

std::string entryKey(const char* type, const std::string& key) {
    g_autofree char* escaped = g_uri_escape_bytes(reinterpret_cast<const guint8*>(key.data()), key.size(), nullptr);
    return std::string(type) + ":" + escaped;
}

// Whether GKeyFile can keep `text` as it is: valid UTF-8 without NUL bytes.
bool isPlainText(const std::string& text) { return g_utf8_validate_len(text.data(), text.size(), nullptr); }

std::string base64Encoded(const std::string& bytes) {
    g_autofree char* encoded = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
    return encoded;
}

std::string base64Decoded(const char* encoded) {
    gsize length = 0;
    g_autofree guchar* decoded = g_base64_decode(encoded, &length);
    return length == 0 ? std::string() : std::string(reinterpret_cast<const char*>(decoded), length);
}

std::optional<std::string> stringEntry(GKeyFile* keyFile, const std::string& entry) {
    g_autofree char* value = g_key_file_get_string(keyFile, kGroup, entry.c_str(), nullptr);
    if (!value) {
        return std::nullopt;
    }
    return std::string(value);
}

std::optional<std::vector<std::string>> stringListEntry(GKeyFile* keyFile, const std::string& entry) {
    gsize length = 0;
    g_autoptr(GError) error = nullptr;
    g_auto(GStrv) list = g_key_file_get_string_list(keyFile, kGroup, entry.c_str(), &length, &error);
    if (error) {
        return std::nullopt;  // missing, or not a list of UTF-8 strings
    }
    return std::vector<std::string>(list, list + length);
}

void setStringListEntry(GKeyFile* keyFile, const std::string& entry, const std::vector<std::string>& values) {
    std::vector<const char*> pointers;
    pointers.reserve(values.size() + 1);
    for (const auto& value : values) {
        pointers.push_back(value.c_str());
    }
    pointers.push_back(nullptr);  // so that the list pointer is never null, even for no elements
    g_key_file_set_string_list(keyFile, kGroup, entry.c_str(), pointers.data(), values.size());
}

// Whether `contents` can be a whole key file. GKeyFile reads a line only up to a NUL byte and
// does not check the encoding of values, so binary data would load partly and then be replaced
// by what was salvaged. Every file this class writes ends with a line break, so a non-empty
// file without one was cut short.
bool looksWhole(const char* contents, gsize length) {
    if (length == 0) {
        return true;
    }
    return contents[length - 1] == '\n' && g_utf8_validate_len(contents, length, nullptr);
}

// Renames the damaged file (or folder) at `path` to a name beside it that says what it is and
// when it was found, "defaults.ini.illisible-20261208-101500", adding "-2", "-3", ... while the
// name is taken, so that a copy kept earlier is never replaced. Returns the new path; nullopt
// with `error` set when the file could not be renamed.
std::optional<std::string> moveAside(const std::string& path, GError** error) {
    constexpr int kNames = 100;
    g_autoptr(GDateTime) now = g_date_time_new_now_local();
    g_autofree char* stamp = g_date_time_format(now, "%Y%m%d-%H%M%S");
    const std::string stem = path + ".illisible-" + stamp;
    g_autoptr(GFile) damaged = g_file_new_for_path(path.c_str());
    // Never a copy: the settings folder may hold the only trace of the user's settings, and a
    // rename within it either happens whole or not at all. A link in the file's place moves as
    // a link.
    const auto flags = static_cast<GFileCopyFlags>(G_FILE_COPY_NOFOLLOW_SYMLINKS | G_FILE_COPY_NO_FALLBACK_FOR_MOVE);
    for (int number = 1; number <= kNames; ++number) {
        const std::string kept = number == 1 ? stem : stem + "-" + std::to_string(number);
        g_autoptr(GFile) target = g_file_new_for_path(kept.c_str());
        g_clear_error(error);
        if (g_file_move(damaged, target, flags, nullptr, nullptr, nullptr, error)) return kept;
        if (!g_error_matches(*error, G_IO_ERROR, G_IO_ERROR_EXISTS)) return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace

void KeyFileDefaults::KeyFileDeleter::operator()(GKeyFile* keyFile) const { g_key_file_unref(keyFile); }

KeyFileDefaults::KeyFileDefaults(std::string path, platform::Log& log)
    : path(std::move(path)), keyFile(g_key_file_new()) {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    g_autoptr(GError) error = nullptr;
    if (!g_file_get_contents(this->path.c_str(), &contents, &length, &error)) {
        // Only a file that is not there yet may be created.
        if (g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
            return;
        }
        // A file that could not be read this time (no permission, an input error, a network
        // folder gone for a moment) may be whole: it is kept where it is and never written over,
        // and changes are kept in memory for this run only. A folder in its place is damage.
        if (!g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_ISDIR)) {
            saves = false;
            log.write("Velmóra: réglages illisibles, modifications non enregistrées: " + std::string(error->message));
            return;
        }
    }
    const auto flags = static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
    if (contents && looksWhole(contents, length) &&
        g_key_file_load_from_data(keyFile.get(), contents, length, flags, nullptr)) {
        return;
    }
    // The file was read but is not a key file we can trust. A failed load may leave part of the
    // file behind, which must not be read either.
    keyFile.reset(g_key_file_new());
    // The user's settings may still be recoverable from it by hand, so it is never written over.
    // Kept aside under a name of its own, it leaves the place free for settings that are saved
    // again: otherwise the hosts and the seen list of every later run would be lost too.
    g_autoptr(GError) moveError = nullptr;
    if (const auto kept = moveAside(this->path, &moveError)) {
        log.write("Velmóra: réglages illisibles mis de côté: " + *kept);
        return;
    }
    // Where it cannot be moved, it stays as it is, and changes are kept in memory for this run
    // only; nothing is lost by that, since the file held nothing we could read.
    saves = false;
    log.write("Velmóra: réglages illisibles, modifications non enregistrées: " + std::string(moveError->message));
}

KeyFileDefaults::~KeyFileDefaults() = default;

std::string KeyFileDefaults::defaultPath() {
    g_autofree char* path = g_build_filename(g_get_user_config_dir(), VELMORA_BUNDLE_ID, "defaults.ini", nullptr);
    return path;
}

std::optional<std::vector<std::string>> KeyFileDefaults::stringArray(const std::string& key) const {
    if (auto values = stringListEntry(keyFile.get(), entryKey(kStringArray, key))) {
        return values;
    }
    auto encoded = stringListEntry(keyFile.get(), entryKey(kStringArrayBase64, key));
    if (!encoded) {
        return std::nullopt;
    }
    for (auto& value : *encoded) {
        value = base64Decoded(value.c_str());
    }
    return encoded;
}

std::optional<std::string> KeyFileDefaults::string(const std::string& key) const {
    if (auto value = stringEntry(keyFile.get(), entryKey(kString, key))) {
        return value;
    }
    if (auto encoded = stringEntry(keyFile.get(), entryKey(kStringBase64, key))) {
        return base64Decoded(encoded->c_str());
    }
    return std::nullopt;
}

bool KeyFileDefaults::boolean(const std::string& key) const {
    // A missing or malformed entry reports an error and FALSE, which is the answer for both.
    return g_key_file_get_boolean(keyFile.get(), kGroup, entryKey(kBoolean, key).c_str(), nullptr);
}

void KeyFileDefaults::setStringArray(const std::string& key, const std::vector<std::string>& value) {
    // The poll stores the seen list after every pass, mostly unchanged: a value already read
    // back as given needs no rewrite of the file (4000 ids, every minute).
    if (stringArray(key) == value) return;
    removeEveryType(key);
    bool plain = true;
    for (const auto& element : value) {
        plain = plain && isPlainText(element);
    }
    if (plain) {
        setStringListEntry(keyFile.get(), entryKey(kStringArray, key), value);
    } else {
        std::vector<std::string> encoded;
        encoded.reserve(value.size());
        for (const auto& element : value) {
            encoded.push_back(base64Encoded(element));
        }
        setStringListEntry(keyFile.get(), entryKey(kStringArrayBase64, key), encoded);
    }
    save();
}

void KeyFileDefaults::setString(const std::string& key, const std::string& value) {
    removeEveryType(key);
    if (isPlainText(value)) {
        g_key_file_set_string(keyFile.get(), kGroup, entryKey(kString, key).c_str(), value.c_str());
    } else {
        g_key_file_set_string(keyFile.get(), kGroup, entryKey(kStringBase64, key).c_str(),
                              base64Encoded(value).c_str());
    }
    save();
}

void KeyFileDefaults::setBoolean(const std::string& key, bool value) {
    removeEveryType(key);
    g_key_file_set_boolean(keyFile.get(), kGroup, entryKey(kBoolean, key).c_str(), value);
    save();
}

void KeyFileDefaults::removeEveryType(const std::string& key) {
    for (const char* type : {kString, kStringBase64, kStringArray, kStringArrayBase64, kBoolean}) {
        g_key_file_remove_key(keyFile.get(), kGroup, entryKey(type, key).c_str(), nullptr);
    }
}

void KeyFileDefaults::save() const {
    if (!saves) {
        return;
    }
    gsize length = 0;
    g_autofree char* data = g_key_file_to_data(keyFile.get(), &length, nullptr);
    g_autofree char* folder = g_path_get_dirname(path.c_str());
    // The settings name the user's service hosts; only the user may read them.
    g_mkdir_with_parents(folder, 0700);
    g_autoptr(GError) error = nullptr;
    // Written to a temporary file and renamed over the old one, so a crash leaves either file whole.
    if (!g_file_set_contents_full(path.c_str(), data, static_cast<gssize>(length), G_FILE_SET_CONTENTS_CONSISTENT, 0600,
                                  &error)) {
        g_warning("Could not save the settings to %s: %s", path.c_str(), error->message);
    }
}

}  // namespace gtk
