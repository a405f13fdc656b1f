#include "platform/gtk/updater/archive_unpack.h"

#include <archive.h>
#include <archive_entry.h>
#include <glib.h>

#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/gtk/updater/update_texts.h"

namespace gtk {

namespace {

struct ReaderDeleter {
    void operator()(struct archive* reader) const { archive_read_free(reader); }
};
struct WriterDeleter {
    void operator()(struct archive* writer) const { archive_write_free(writer); }
};
using Reader = std::unique_ptr<struct archive, ReaderDeleter>;
using Writer = std::unique_ptr<struct archive, WriterDeleter>;

std::string forbidden(const char* path) {
    // The path comes from the archive and may be any bytes; the dialog needs valid UTF-8.
    g_autofree char* shown = g_utf8_make_valid(path ? path : "", -1);
    return std::string(update_texts::kForbiddenEntryPrefix) + shown;
}

// A symbolic link may only point at a relative place without "..". Checking the target
// lexically is not enough once ".." is allowed: a link "b" → "p/.." is harmless by itself,
// yet "s" → "b/../x" then climbs out of the folder, because "b" resolves to the folder itself.
bool isSafeLinkTarget(const char* target) {
    if (!target || !*target) return false;
    const auto clean = cleanEntryPath(target);
    return clean && !clean->empty();
}

// Keeps the execute bits the programs need, drops set-id and sticky bits and write access for
// others, and makes sure we may always write and later remove what we unpacked.
void tamePermissions(struct archive_entry* entry) {
    const auto type = archive_entry_filetype(entry);
    mode_t perm = archive_entry_perm(entry) & 0755;
    perm |= (type == AE_IFDIR) ? 0700 : 0600;
    archive_entry_set_perm(entry, perm);
}

Reader openReader(std::span<const std::uint8_t> archive) {
    Reader reader(archive_read_new());
    archive_read_support_format_tar(reader.get());
    // Only filters built into libarchive: the "all" variant would also start external
    // programs for rarer compressions.
    archive_read_support_filter_none(reader.get());
    archive_read_support_filter_gzip(reader.get());
    archive_read_support_filter_xz(reader.get());
    archive_read_support_filter_bzip2(reader.get());
    archive_read_support_filter_zstd(reader.get());
    if (archive_read_open_memory(reader.get(), archive.data(), archive.size()) != ARCHIVE_OK) return nullptr;
    return reader;
}

Writer openWriter() {
    Writer writer(archive_write_disk_new());
    // Every entry path is made absolute below the destination by us after our own checks, so
    // libarchive's refusal of absolute paths cannot be used; its refusal of ".." and of writing
    // through symbolic links on disk still guards what we hand it. Owners are never restored.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    return writer;
}

// Copies one entry's data, counting it against the size limit.
std::optional<std::string> copyData(struct archive* reader, struct archive* writer, std::uint64_t& unpacked) {
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int read = archive_read_data_block(reader, &block, &size, &offset);
        if (read == ARCHIVE_EOF) return std::nullopt;
        if (read < ARCHIVE_WARN) return std::string(update_texts::kUnpackFailed);
        unpacked += size;
        if (unpacked > kLargestUnpackedSize) return std::string(update_texts::kArchiveTooLarge);
        if (archive_write_data_block(writer, block, size, offset) < ARCHIVE_WARN)
            return std::string(update_texts::kUnpackWriteFailed);
    }
}

// Checks one entry and points it below `root`: nullopt to go on, with `skip` set for the
// archive's own top folder ("./"), which is the destination itself; else the reason to stop.
std::optional<std::string> placeEntry(struct archive_entry* entry, const std::string& root, bool& skip) {
    skip = false;
    const char* path = archive_entry_pathname(entry);
    const auto clean = path ? cleanEntryPath(path) : std::nullopt;
    if (!clean) return forbidden(path);
    const auto type = archive_entry_filetype(entry);
    const char* hardlink = archive_entry_hardlink(entry);
    if (clean->empty()) {
        if (type != AE_IFDIR || hardlink) return forbidden(path);
        skip = true;
        return std::nullopt;
    }
    if (hardlink) {
        const auto target = cleanEntryPath(hardlink);
        if (!target || target->empty()) return forbidden(hardlink);
        archive_entry_set_hardlink(entry, (root + "/" + *target).c_str());
    } else if (type == AE_IFLNK) {
        if (!isSafeLinkTarget(archive_entry_symlink(entry))) return forbidden(path);
    } else if (type != AE_IFREG && type != AE_IFDIR) {
        // Devices, pipes and sockets have no place in an application bundle.
        return forbidden(path);
    }
    if (type != AE_IFLNK) tamePermissions(entry);
    archive_entry_set_pathname(entry, (root + "/" + *clean).c_str());
    return std::nullopt;
}

}  // namespace

std::optional<std::string> cleanEntryPath(std::string_view path) {
    if (path.empty() || path.front() == '/') return std::nullopt;
    std::string clean;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (component == "..") return std::nullopt;
        if (!component.empty() && component != ".") {
            if (!clean.empty()) clean += '/';
            clean += component;
        }
        start = end + 1;
    }
    return clean;
}

std::optional<std::string> unpackArchive(std::span<const std::uint8_t> archive, const std::string& destination) {
    // libarchive's guard against symbolic links looks at every component of the paths it is
    // given, including the destination's own; the real path keeps a symlinked home folder from
    // being mistaken for an attack.
    char resolved[PATH_MAX];
    if (!realpath(destination.c_str(), resolved)) return std::string(update_texts::kUnpackWriteFailed);
    const std::string root = resolved;

    Reader reader = openReader(archive);
    if (!reader) return std::string(update_texts::kUnpackFailed);
    Writer writer = openWriter();
    std::uint64_t unpacked = 0;
    bool sawEntry = false;
    for (;;) {
        struct archive_entry* entry = nullptr;
        const int header = archive_read_next_header(reader.get(), &entry);
        if (header == ARCHIVE_EOF) break;
        if (header < ARCHIVE_WARN) return std::string(update_texts::kUnpackFailed);
        sawEntry = true;
        bool skip = false;
        if (auto refused = placeEntry(entry, root, skip)) return refused;
        if (skip) continue;
        if (archive_write_header(writer.get(), entry) < ARCHIVE_WARN)
            return std::string(update_texts::kUnpackWriteFailed);
        if (archive_entry_size(entry) > 0) {
            if (auto failed = copyData(reader.get(), writer.get(), unpacked)) return failed;
        }
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
            return std::string(update_texts::kUnpackWriteFailed);
    }
    // Closing sets the folders' permissions and times, which libarchive defers to the end.
    if (archive_write_close(writer.get()) < ARCHIVE_WARN) return std::string(update_texts::kUnpackWriteFailed);
    if (!sawEntry) return std::string(update_texts::kUnpackFailed);
    return std::nullopt;
}

}  // namespace gtk
