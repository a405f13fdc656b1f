// Archives, key pairs and signed feeds made up in memory for the updater's tests.
#pragma once

#include <archive.h>
#include <archive_entry.h>
#include <sodium.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/gtk/updater/update_feed.h"
#include "platform/gtk/updater/update_settings.h"

namespace adapter_test {

using Bytes = std::vector<std::uint8_t>;

struct ArchiveEntry {
    enum class Kind { File, Folder, Symlink, Hardlink, Fifo };
    std::string path;
    Kind kind = Kind::File;
    std::string content;  // a file's bytes
    std::string link;     // a link's target
    int mode = 0644;
};

inline ArchiveEntry file(std::string path, std::string content, int mode = 0644) {
    return {std::move(path), ArchiveEntry::Kind::File, std::move(content), {}, mode};
}
inline ArchiveEntry folder(std::string path) { return {std::move(path), ArchiveEntry::Kind::Folder, {}, {}, 0755}; }
inline ArchiveEntry symlink(std::string path, std::string target) {
    return {std::move(path), ArchiveEntry::Kind::Symlink, {}, std::move(target), 0777};
}
inline ArchiveEntry hardlink(std::string path, std::string target) {
    return {std::move(path), ArchiveEntry::Kind::Hardlink, {}, std::move(target), 0644};
}
inline ArchiveEntry fifo(std::string path) { return {std::move(path), ArchiveEntry::Kind::Fifo, {}, {}, 0644}; }

// A gzip-compressed tar archive (pax format) holding exactly `entries`, in order, with their
// paths written as given: libarchive's writer does not clean them, so hostile archives can be
// made too.
inline Bytes makeTarGz(const std::vector<ArchiveEntry>& entries) {
    Bytes out;
    struct archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_add_filter_gzip(writer);
    auto append = [](struct archive*, void* data, const void* buffer, size_t length) -> la_ssize_t {
        auto* bytes = static_cast<Bytes*>(data);
        const auto* begin = static_cast<const std::uint8_t*>(buffer);
        bytes->insert(bytes->end(), begin, begin + length);
        return static_cast<la_ssize_t>(length);
    };
    if (archive_write_open(writer, &out, nullptr, append, nullptr) != ARCHIVE_OK)
        throw std::runtime_error("archive_write_open");
    for (const auto& entry : entries) {
        struct archive_entry* header = archive_entry_new();
        archive_entry_set_pathname(header, entry.path.c_str());
        archive_entry_set_perm(header, static_cast<mode_t>(entry.mode));
        archive_entry_set_mtime(header, 1'700'000'000, 0);
        switch (entry.kind) {
            case ArchiveEntry::Kind::File:
                archive_entry_set_filetype(header, AE_IFREG);
                archive_entry_set_size(header, static_cast<la_int64_t>(entry.content.size()));
                break;
            case ArchiveEntry::Kind::Folder:
                archive_entry_set_filetype(header, AE_IFDIR);
                break;
            case ArchiveEntry::Kind::Symlink:
                archive_entry_set_filetype(header, AE_IFLNK);
                archive_entry_set_symlink(header, entry.link.c_str());
                break;
            case ArchiveEntry::Kind::Hardlink:
                archive_entry_set_filetype(header, AE_IFREG);
                archive_entry_set_hardlink(header, entry.link.c_str());
                break;
            case ArchiveEntry::Kind::Fifo:
                archive_entry_set_filetype(header, AE_IFIFO);
                break;
        }
        if (archive_write_header(writer, header) != ARCHIVE_OK) throw std::runtime_error(archive_error_string(writer));
        if (!entry.content.empty()) archive_write_data(writer, entry.content.data(), entry.content.size());
        archive_entry_free(header);
    }
    archive_write_close(writer);
    archive_write_free(writer);
    return out;
}

// The Info.plist of a bundle with this identifier and build.
inline std::string infoPlist(const std::string& build, const std::string& identifier = "fr.velmora.universal") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>CFBundleIdentifier</key><string>" +
           identifier +
           "</string><key>CFBundleExecutable</key><string>Velmora</string>"
           "<key>CFBundleVersion</key><string>" +
           build + "</string></dict></plist>\n";
}

// The entries of a complete bundle "Velmora.app" of this build.
inline std::vector<ArchiveEntry> bundleEntries(const std::string& build) {
    return {folder("Velmora.app"),
            folder("Velmora.app/Contents"),
            file("Velmora.app/Contents/Info.plist", infoPlist(build)),
            folder("Velmora.app/Contents/MacOS"),
            file("Velmora.app/Contents/MacOS/Velmora", "#!/bin/sh\nexit 0\n", 0755),
            file("Velmora.app/Contents/MacOS/VelmoraRelaunch", "#!/bin/sh\nexit 0\n", 0755)};
}

struct KeyPair {
    gtk::UpdatePublicKey publicKey{};
    std::array<std::uint8_t, crypto_sign_SECRETKEYBYTES> secretKey{};

    KeyPair() {
        if (sodium_init() < 0) throw std::runtime_error("sodium_init");
        crypto_sign_keypair(publicKey.data(), secretKey.data());
    }
};

// A feed that announces `archive` exactly, signed with `keys`.
inline gtk::UpdateFeed signedFeed(const Bytes& archive, const KeyPair& keys, const std::string& build = "101") {
    gtk::UpdateFeed feed;
    feed.version = "1.1.0";
    feed.build = build;
    feed.archiveUrl = "https://velmora.fr/mises-a-jour/Velmora-" + build + ".tar.gz";
    feed.size = archive.size();
    crypto_hash_sha256(feed.sha256.data(), archive.data(), archive.size());
    crypto_sign_detached(feed.signature.data(), nullptr, archive.data(), archive.size(), keys.secretKey.data());
    return feed;
}

}  // namespace adapter_test
