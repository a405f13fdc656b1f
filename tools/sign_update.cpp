// sign-update: makes the Ed25519 key pair that signs update archives, and signs an archive
// into the feed document the updater reads.
//
//   sign-update generate-key SECRET_KEY_FILE
//       writes a new secret key (Base64) to the file, which must not exist yet, and prints the
//       public key (Base64) for the bundle's SUPublicEDKey
//   sign-update public-key SECRET_KEY_FILE
//       prints the public key of a secret key file
//   sign-update sign SECRET_KEY_FILE ARCHIVE --url URL --version V --build B [--notes TEXT]
//               [--output FEED]
//       prints (or writes to FEED) the feed that offers ARCHIVE, downloadable at URL
#include <fcntl.h>
#include <glib.h>
#include <json-glib/json-glib.h>
#include <sodium.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

int fail(const std::string& message) {
    std::fprintf(stderr, "sign-update: %s\n", message.c_str());
    return 1;
}

std::string base64(const unsigned char* data, size_t size) {
    g_autofree char* text = g_base64_encode(data, size);
    return text;
}

std::optional<Bytes> readFile(const char* path) {
    g_autofree char* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path, &contents, &length, nullptr)) return std::nullopt;
    return Bytes(contents, contents + length);
}

std::optional<Bytes> readSecretKey(const char* path) {
    const auto text = readFile(path);
    if (!text) return std::nullopt;
    g_autofree char* encoded = g_strndup(reinterpret_cast<const char*>(text->data()), text->size());
    g_strstrip(encoded);
    gsize length = 0;
    g_autofree guchar* decoded = g_base64_decode(encoded, &length);
    if (length != crypto_sign_SECRETKEYBYTES) return std::nullopt;
    return Bytes(decoded, decoded + length);
}

std::string publicKeyOf(const Bytes& secretKey) {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    crypto_sign_ed25519_sk_to_pk(publicKey, secretKey.data());
    return base64(publicKey, sizeof publicKey);
}

int generateKey(const char* path) {
    unsigned char publicKey[crypto_sign_PUBLICKEYBYTES];
    unsigned char secretKey[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(publicKey, secretKey);
    const std::string encoded = base64(secretKey, sizeof secretKey) + "\n";
    sodium_memzero(secretKey, sizeof secretKey);
    // Created only for its owner, and never over an existing key.
    const int file = open(path, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (file < 0) return fail(std::string("cannot create ") + path + ": " + g_strerror(errno));
    const bool written = write(file, encoded.data(), encoded.size()) == static_cast<ssize_t>(encoded.size());
    if (close(file) != 0 || !written) return fail(std::string("cannot write ") + path);
    std::printf("%s\n", base64(publicKey, sizeof publicKey).c_str());
    return 0;
}

int printPublicKey(const char* path) {
    const auto secretKey = readSecretKey(path);
    if (!secretKey) return fail(std::string("no secret key in ") + path);
    std::printf("%s\n", publicKeyOf(*secretKey).c_str());
    return 0;
}

std::string hex(const unsigned char* data, size_t size) {
    std::string text;
    static const char digits[] = "0123456789abcdef";
    for (size_t i = 0; i < size; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 15];
    }
    return text;
}

int sign(int argc, char** argv) {
    g_autofree gchar* url = nullptr;
    g_autofree gchar* version = nullptr;
    g_autofree gchar* build = nullptr;
    g_autofree gchar* notes = nullptr;
    g_autofree gchar* output = nullptr;
    GOptionEntry entries[] = {
        {"url", 0, 0, G_OPTION_ARG_STRING, &url, "https URL the archive is downloaded from", "URL"},
        {"version", 0, 0, G_OPTION_ARG_STRING, &version, "version shown to the user", "V"},
        {"build", 0, 0, G_OPTION_ARG_STRING, &build, "build number (CFBundleVersion)", "B"},
        {"notes", 0, 0, G_OPTION_ARG_STRING, &notes, "release notes (French)", "TEXT"},
        {"output", 0, 0, G_OPTION_ARG_FILENAME, &output, "write the feed here instead of printing it", "FEED"},
        {nullptr, 0, 0, G_OPTION_ARG_NONE, nullptr, nullptr, nullptr},
    };
    g_autoptr(GOptionContext) context = g_option_context_new("sign SECRET_KEY_FILE ARCHIVE");
    g_option_context_add_main_entries(context, entries, nullptr);
    g_autoptr(GError) error = nullptr;
    if (!g_option_context_parse(context, &argc, &argv, &error)) return fail(error->message);
    // argv now holds the program, "sign", the key file and the archive.
    if (argc != 4 || !url || !version || !build)
        return fail("usage: sign SECRET_KEY_FILE ARCHIVE --url --version --build");

    const auto secretKey = readSecretKey(argv[2]);
    if (!secretKey) return fail(std::string("no secret key in ") + argv[2]);
    const auto archive = readFile(argv[3]);
    if (!archive) return fail(std::string("cannot read ") + argv[3]);

    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, archive->data(), archive->size());
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, archive->data(), archive->size(), secretKey->data());

    g_autoptr(JsonBuilder) builder = json_builder_new();
    json_builder_begin_object(builder);
    json_builder_set_member_name(builder, "version");
    json_builder_add_string_value(builder, version);
    json_builder_set_member_name(builder, "build");
    json_builder_add_string_value(builder, build);
    json_builder_set_member_name(builder, "archive");
    json_builder_add_string_value(builder, url);
    json_builder_set_member_name(builder, "size");
    json_builder_add_int_value(builder, static_cast<gint64>(archive->size()));
    json_builder_set_member_name(builder, "sha256");
    json_builder_add_string_value(builder, hex(digest, sizeof digest).c_str());
    json_builder_set_member_name(builder, "signature");
    json_builder_add_string_value(builder, base64(signature, sizeof signature).c_str());
    json_builder_set_member_name(builder, "notes");
    json_builder_add_string_value(builder, notes ? notes : "");
    json_builder_end_object(builder);

    g_autoptr(JsonNode) root = json_builder_get_root(builder);
    g_autoptr(JsonGenerator) generator = json_generator_new();
    json_generator_set_root(generator, root);
    json_generator_set_pretty(generator, TRUE);
    g_autofree char* feed = json_generator_to_data(generator, nullptr);
    const std::string text = std::string(feed) + "\n";
    if (output) {
        const bool saved = g_file_set_contents(output, text.c_str(), static_cast<gssize>(text.size()), &error);
        if (!saved) return fail(error->message);
    } else {
        std::fputs(text.c_str(), stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (sodium_init() < 0) return fail("libsodium cannot start");
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "generate-key" && argc == 3) return generateKey(argv[2]);
    if (command == "public-key" && argc == 3) return printPublicKey(argv[2]);
    if (command == "sign") return sign(argc, argv);
    std::fprintf(stderr,
                 "usage: sign-update generate-key SECRET_KEY_FILE\n"
                 "       sign-update public-key SECRET_KEY_FILE\n"
                 "       sign-update sign SECRET_KEY_FILE ARCHIVE --url URL --version V --build B [--notes TEXT] "
                 "[--output FEED]\n");
    return 2;
}
