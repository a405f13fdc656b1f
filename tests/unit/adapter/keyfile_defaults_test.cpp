#include "platform/gtk/keyfile_defaults.h"

#include "temp_folder.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace gtk {
namespace {

using adapter_test::readFile;
using adapter_test::TempFolder;
using adapter_test::writeFile;
using Strings = std::vector<std::string>;
using namespace std::string_literals;

struct StringCase {
    const char* behaviour;
    std::string value;
};

const StringCase kStringCases[] = {
    {"empty string", ""},
    {"plain host", "velmora.fr"},
    {"commas and semicolons", "a,b;c;"},
    {"line breaks", "première\nseconde\r\n"},
    {"leading and trailing blanks", "  en retrait\t "},
    {"backslashes", "C:\\dossier\\n\\"},
    {"non-ASCII text", "Réservé · 日本 🙂"},
    {"key-file syntax", "[Velmora]\nstring:host=ailleurs\n# remarque"},
    {"the word true", "true"},
    {"NUL byte", "avant\0après"s},
    {"invalid UTF-8", "\xff\xfe\x80"},
};

TEST(KeyFileDefaults, StringsComeBackExactlyInThisRunAndTheNext) {
    for (const auto& testCase : kStringCases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder folder;
        KeyFileDefaults writer(folder / "defaults.ini");
        writer.setString("valeur", testCase.value);
        EXPECT_EQ(writer.string("valeur"), testCase.value);
        EXPECT_EQ(KeyFileDefaults(folder / "defaults.ini").string("valeur"), testCase.value);
    }
}

struct ArrayCase {
    const char* behaviour;
    Strings value;
};

const ArrayCase kArrayCases[] = {
    {"no elements", {}},
    {"one empty element", {""}},
    {"two empty elements", {"", ""}},
    {"list separator inside elements", {"a;b", ";", "c;"}},
    {"backslash before the separator", {"a\\", "\\;", "\\"}},
    {"commas, line breaks and blanks", {"x,y", "l1\nl2", " devant", "derrière ", "\t"}},
    {"non-ASCII elements", {"é", "🙂"}},
    {"NUL byte in one element", {"simple", "a\0b"s, ""}},
    {"invalid UTF-8 in one element", {"simple", "\xc3", ";"}},
};

TEST(KeyFileDefaults, StringArraysComeBackExactlyInThisRunAndTheNext) {
    for (const auto& testCase : kArrayCases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder folder;
        KeyFileDefaults writer(folder / "defaults.ini");
        writer.setStringArray("liste", testCase.value);
        EXPECT_EQ(writer.stringArray("liste"), testCase.value);
        EXPECT_EQ(KeyFileDefaults(folder / "defaults.ini").stringArray("liste"), testCase.value);
    }
}

TEST(KeyFileDefaults, BooleansComeBackInThisRunAndTheNext) {
    TempFolder folder;
    KeyFileDefaults writer(folder / "defaults.ini");
    writer.setBoolean("oui", true);
    writer.setBoolean("non", false);
    const KeyFileDefaults reader(folder / "defaults.ini");
    EXPECT_TRUE(writer.boolean("oui"));
    EXPECT_TRUE(reader.boolean("oui"));
    EXPECT_FALSE(reader.boolean("non"));
    EXPECT_FALSE(reader.boolean("absent"));
}

TEST(KeyFileDefaults, KeysOfAnyFormStayApart) {
    const std::string keys[] = {
        "simple", "avec espace", "a=b", "[groupe]", "a:b", "a%3Ab", "string:simple", "é", "", " devant", "ligne\nsuite",
    };
    TempFolder folder;
    {
        KeyFileDefaults writer(folder / "defaults.ini");
        for (const auto& key : keys) {
            writer.setString(key, "valeur de " + key);
        }
    }
    const KeyFileDefaults reader(folder / "defaults.ini");
    for (const auto& key : keys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(reader.string(key), "valeur de " + key);
    }
}

TEST(KeyFileDefaults, ValueOfAnotherTypeReadsAsAbsent) {
    TempFolder folder;
    KeyFileDefaults defaults(folder / "defaults.ini");
    defaults.setString("texte", "true");
    defaults.setStringArray("liste", {"true"});
    defaults.setBoolean("drapeau", true);

    const KeyFileDefaults reloaded(folder / "defaults.ini");
    for (const KeyFileDefaults* store : {static_cast<const KeyFileDefaults*>(&defaults), &reloaded}) {
        EXPECT_FALSE(store->boolean("texte"));
        EXPECT_EQ(store->stringArray("texte"), std::nullopt);
        EXPECT_EQ(store->string("liste"), std::nullopt);
        EXPECT_FALSE(store->boolean("liste"));
        EXPECT_EQ(store->string("drapeau"), std::nullopt);
        EXPECT_EQ(store->stringArray("drapeau"), std::nullopt);
    }
}

TEST(KeyFileDefaults, StoringAnotherTypeReplacesTheValue) {
    TempFolder folder;
    KeyFileDefaults defaults(folder / "defaults.ini");
    defaults.setString("clé", "texte");
    defaults.setStringArray("clé", {"a"});
    defaults.setBoolean("clé", true);
    defaults.setString("binaire", "\0"s);
    defaults.setString("binaire", "texte");

    const KeyFileDefaults reloaded(folder / "defaults.ini");
    EXPECT_EQ(reloaded.string("clé"), std::nullopt);
    EXPECT_EQ(reloaded.stringArray("clé"), std::nullopt);
    EXPECT_TRUE(reloaded.boolean("clé"));
    EXPECT_EQ(reloaded.string("binaire"), "texte");
}

TEST(KeyFileDefaults, ValuesOfSeveralKindsWrittenByOneAreReadByAnother) {
    TempFolder folder;
    {
        KeyFileDefaults writer(folder / "defaults.ini");
        writer.setString("hôte", "velmora.fr");
        writer.setStringArray("hôtes", {"a.velmora.fr", "b.velmora.fr"});
        writer.setBoolean("démarrage", true);
        writer.setString("hôte", "autre.velmora.fr");
    }
    const KeyFileDefaults reader(folder / "defaults.ini");
    EXPECT_EQ(reader.string("hôte"), "autre.velmora.fr");
    EXPECT_EQ(reader.stringArray("hôtes"), (Strings{"a.velmora.fr", "b.velmora.fr"}));
    EXPECT_TRUE(reader.boolean("démarrage"));
}

TEST(KeyFileDefaults, MissingFileReadsEmptyAndTheFirstChangeCreatesItPrivately) {
    TempFolder folder;
    const std::string path = folder / "config/fr.velmora.universal/defaults.ini";
    KeyFileDefaults defaults(path);
    EXPECT_EQ(defaults.string("hôte"), std::nullopt);
    EXPECT_EQ(defaults.stringArray("hôtes"), std::nullopt);
    EXPECT_FALSE(defaults.boolean("démarrage"));
    EXPECT_FALSE(std::filesystem::exists(path));  // reading alone writes nothing

    defaults.setBoolean("démarrage", true);
    EXPECT_TRUE(defaults.savesChanges());
    struct stat file = {};
    struct stat directory = {};
    ASSERT_EQ(stat(path.c_str(), &file), 0);
    ASSERT_EQ(stat((folder / "config/fr.velmora.universal").c_str(), &directory), 0);
    EXPECT_EQ(file.st_mode & 0777, 0600u);
    EXPECT_EQ(directory.st_mode & 0777, 0700u);
    EXPECT_TRUE(KeyFileDefaults(path).boolean("démarrage"));
}

TEST(KeyFileDefaults, EmptyFileIsAnEmptyStoreThatSaves) {
    TempFolder folder;
    writeFile(folder / "defaults.ini", "");
    KeyFileDefaults defaults(folder / "defaults.ini");
    defaults.setString("hôte", "velmora.fr");
    EXPECT_EQ(KeyFileDefaults(folder / "defaults.ini").string("hôte"), "velmora.fr");
}

TEST(KeyFileDefaults, EntriesItDoesNotOwnSurviveSaving) {
    TempFolder folder;
    writeFile(folder / "defaults.ini", "# écrit à la main\n[Autre]\ngarder=1\n\n[Velmora]\nboolean:drapeau=true\n");
    KeyFileDefaults defaults(folder / "defaults.ini");
    EXPECT_TRUE(defaults.boolean("drapeau"));
    defaults.setString("hôte", "velmora.fr");

    const std::string saved = readFile(folder / "defaults.ini");
    EXPECT_NE(saved.find("# écrit à la main"), std::string::npos) << saved;
    EXPECT_NE(saved.find("[Autre]\ngarder=1"), std::string::npos) << saved;
    EXPECT_TRUE(KeyFileDefaults(folder / "defaults.ini").boolean("drapeau"));
}

struct DamagedCase {
    const char* behaviour;
    std::string contents;
};

const DamagedCase kDamagedCases[] = {
    {"text that is not a key file", "ceci n'est pas un fichier de réglages\n"},
    {"cut inside a value", "[Velmora]\nstring:h%C3%B4te=velm"},
    {"cut inside the group header", "[Velm"},
    {"binary data", "\0\x01\x02\xff[Velmora]\nstring:h%C3%B4te=velmora.fr\n"s},
    {"NUL byte inside a value", "[Velmora]\nstring:h%C3%B4te=velmora.fr\0reste\n"s},
    {"invalid UTF-8", "[Velmora]\nstring:h%C3%B4te=velmora.fr\nstring:autre=\xff\xfe\n"},
    {"entries before any group", "string:h%C3%B4te=velmora.fr\n[Velmora]\n"},
    {"good entries before a bad line", "[Velmora]\nstring:h%C3%B4te=velmora.fr\nligne sans signe égal\n"},
};

TEST(KeyFileDefaults, DamagedFileReadsEmptyAndIsNeverWrittenOver) {
    for (const auto& testCase : kDamagedCases) {
        SCOPED_TRACE(testCase.behaviour);
        TempFolder folder;
        const std::string path = folder / "defaults.ini";
        writeFile(path, testCase.contents);
        ASSERT_EQ(readFile(path), testCase.contents);

        KeyFileDefaults defaults(path);
        EXPECT_EQ(defaults.string("hôte"), std::nullopt);
        EXPECT_FALSE(defaults.savesChanges());

        defaults.setString("hôte", "nouveau.velmora.fr");
        defaults.setStringArray("hôtes", {"a"});
        defaults.setBoolean("démarrage", true);
        // Changes hold for this run, in memory only.
        EXPECT_EQ(defaults.string("hôte"), "nouveau.velmora.fr");
        EXPECT_TRUE(defaults.boolean("démarrage"));
        EXPECT_EQ(readFile(path), testCase.contents);
        EXPECT_EQ(KeyFileDefaults(path).string("hôte"), std::nullopt);
    }
}

TEST(KeyFileDefaults, FolderAtTheFilePathReadsEmptyAndStaysAFolder) {
    TempFolder folder;
    const std::string path = folder / "defaults.ini";
    std::filesystem::create_directories(path + "/dedans");
    KeyFileDefaults defaults(path);
    EXPECT_EQ(defaults.string("hôte"), std::nullopt);
    EXPECT_FALSE(defaults.savesChanges());
    defaults.setString("hôte", "velmora.fr");
    EXPECT_EQ(defaults.string("hôte"), "velmora.fr");
    EXPECT_TRUE(std::filesystem::is_directory(path + "/dedans"));
}

TEST(KeyFileDefaults, DefaultFileLivesInTheApplicationsConfigurationFolder) {
    g_autofree char* expected =
        g_build_filename(g_get_user_config_dir(), "fr.velmora.universal", "defaults.ini", nullptr);
    EXPECT_EQ(KeyFileDefaults::defaultPath(), expected);
}

}  // namespace
}  // namespace gtk
