// sign-update: makes the Ed25519 key pair that signs updates, and writes the feed document the
// updater reads: the offer of an archive (its version, build, notes, address, size and SHA-256)
// and the signature of the offer's exact text.
//
//   sign-update generate-key SECRET_KEY_FILE
//       writes a new secret key (Base64) to the file, which must not exist yet, and prints the
//       public key (Base64) for the bundle's SUPublicEDKey
//   sign-update public-key SECRET_KEY_FILE
//       prints the public key of a secret key file
//   sign-update sign SECRET_KEY_FILE ARCHIVE --url URL --version V --build B [--notes TEXT]
//               [--output FEED]
//       prints (or writes to FEED) the signed feed that offers ARCHIVE, downloadable at URL
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

std::string jsonText(JsonBuilder* builder, bool pretty) {
    g_autoptr(JsonNode) root = json_builder_get_root(builder);
    g_autoptr(JsonGenerator) generator = json_generator_new();
    json_generator_set_root(generator, root);
    json_generator_set_pretty(generator, pretty);
    g_autofree char* text = json_generator_to_data(generator, nullptr);
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
        // Taken as the bytes given, not converted from the locale's character set: French notes
        // must pass through a C locale too. They must be UTF-8.
        {"notes", 0, 0, G_OPTION_ARG_FILENAME, &notes, "release notes (French, UTF-8)", "TEXT"},
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
    if (notes && !g_utf8_validate(notes, -1, nullptr)) return fail("the notes are not UTF-8");
    // The updater fetches nothing else; a feed that names another address would offer in vain.
    if (!g_str_has_prefix(url, "https://")) return fail("the archive's URL must be an https URL");

    const auto secretKey = readSecretKey(argv[2]);
    if (!secretKey) return fail(std::string("no secret key in ") + argv[2]);
    const auto archive = readFile(argv[3]);
    if (!archive) return fail(std::string("cannot read ") + argv[3]);

    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, archive->data(), archive->size());

    g_autoptr(JsonBuilder) offerBuilder = json_builder_new();
    json_builder_begin_object(offerBuilder);
    json_builder_set_member_name(offerBuilder, "version");
    json_builder_add_string_value(offerBuilder, version);
    json_builder_set_member_name(offerBuilder, "build");
    json_builder_add_string_value(offerBuilder, build);
    json_builder_set_member_name(offerBuilder, "archive");
    json_builder_add_string_value(offerBuilder, url);
    json_builder_set_member_name(offerBuilder, "size");
    json_builder_add_int_value(offerBuilder, static_cast<gint64>(archive->size()));
    json_builder_set_member_name(offerBuilder, "sha256");
    json_builder_add_string_value(offerBuilder, hex(digest, sizeof digest).c_str());
    json_builder_set_member_name(offerBuilder, "notes");
    json_builder_add_string_value(offerBuilder, notes ? notes : "");
    json_builder_end_object(offerBuilder);
    const std::string offer = jsonText(offerBuilder, false);

    // The offer's bytes are signed as they are, and travel as a string: the updater checks
    // exactly these bytes, with no JSON to bring into a canonical form first.
    unsigned char signature[crypto_sign_BYTES];
    crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(offer.data()), offer.size(),
                         secretKey->data());

    g_autoptr(JsonBuilder) feedBuilder = json_builder_new();
    json_builder_begin_object(feedBuilder);
    json_builder_set_member_name(feedBuilder, "offer");
    json_builder_add_string_value(feedBuilder, offer.c_str());
    json_builder_set_member_name(feedBuilder, "signature");
    json_builder_add_string_value(feedBuilder, base64(signature, sizeof signature).c_str());
    json_builder_end_object(feedBuilder);
    const std::string text = jsonText(feedBuilder, true) + "\n";
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
