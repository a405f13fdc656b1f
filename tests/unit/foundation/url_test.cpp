#include "platform/foundation/url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace foundation {
namespace {

using std::nullopt;

struct ComponentsCase {
    // Defaults stand for "absent", so that each row names only the components it has.
    const char* behaviour = "";
    const char* text = "";
    std::optional<std::string> scheme = nullopt;
    std::optional<std::string> user = nullopt;
    std::optional<std::string> password = nullopt;
    std::optional<std::string> host = nullopt;
    std::optional<int> port = nullopt;
    std::string path = {};
    std::optional<std::string> query = nullopt;
    std::optional<std::string> fragment = nullopt;
};

const ComponentsCase kComponentsCases[] = {
    {.behaviour = "plain https URL splits into scheme, host and path",
     .text = "https://velmora.fr/admin",
     .scheme = "https",
     .host = "velmora.fr",
     .path = "/admin"},
    {.behaviour = "scheme keeps its upper case",
     .text = "HTTPS://velmora.fr/admin",
     .scheme = "HTTPS",
     .host = "velmora.fr",
     .path = "/admin"},
    {.behaviour = "explicit port is read as a number",
     .text = "https://velmora.fr:443/admin",
     .scheme = "https",
     .host = "velmora.fr",
     .port = 443,
     .path = "/admin"},
    {.behaviour = "user without colon has no password",
     .text = "https://u@velmora.fr/admin",
     .scheme = "https",
     .user = "u",
     .host = "velmora.fr",
     .path = "/admin"},
    {.behaviour = "user and password split at the colon",
     .text = "https://u:p@h/",
     .scheme = "https",
     .user = "u",
     .password = "p",
     .host = "h",
     .path = "/"},
    {.behaviour = "password may itself contain a colon",
     .text = "https://u:p:q@h/",
     .scheme = "https",
     .user = "u",
     .password = "p:q",
     .host = "h",
     .path = "/"},
    {.behaviour = "colon with nothing after it gives an empty password",
     .text = "https://u:@h/",
     .scheme = "https",
     .user = "u",
     .password = "",
     .host = "h",
     .path = "/"},
    {.behaviour = "userinfo ends at the last at sign",
     .text = "https://a@b@h/",
     .scheme = "https",
     .user = "a@b",
     .host = "h",
     .path = "/"},
    {.behaviour = "host keeps its case and a bare authority has the empty path",
     .text = "https://Velmora.fr",
     .scheme = "https",
     .host = "Velmora.fr",
     .path = ""},
    {.behaviour = "trailing slash is kept in the path",
     .text = "https://velmora.fr/admin/",
     .scheme = "https",
     .host = "velmora.fr",
     .path = "/admin/"},
    {.behaviour = "query and fragment are split off as written",
     .text = "https://h/admin?notification=notice&noticeId=payable%3A42#top",
     .scheme = "https",
     .host = "h",
     .path = "/admin",
     .query = "notification=notice&noticeId=payable%3A42",
     .fragment = "top"},
    {.behaviour = "question mark inside the fragment belongs to the fragment",
     .text = "https://h/p#a?b",
     .scheme = "https",
     .host = "h",
     .path = "/p",
     .fragment = "a?b"},
    {.behaviour = "fragment runs to the end, a second hash included",
     .text = "https://h/p#a#b",
     .scheme = "https",
     .host = "h",
     .path = "/p",
     .fragment = "a#b"},
    {.behaviour = "empty query and empty fragment are present but empty",
     .text = "https://h/p?#",
     .scheme = "https",
     .host = "h",
     .path = "/p",
     .query = "",
     .fragment = ""},
    {.behaviour = "query directly after the host leaves the path empty",
     .text = "https://h?x=1",
     .scheme = "https",
     .host = "h",
     .path = "",
     .query = "x=1"},
    {.behaviour = "mailto has no authority; the address is the path",
     .text = "mailto:a@b.fr",
     .scheme = "mailto",
     .path = "a@b.fr"},
    {.behaviour = "tel keeps the plus sign in the path", .text = "tel:+33123", .scheme = "tel", .path = "+33123"},
    {.behaviour = "IPv6 literal is returned without brackets",
     .text = "https://[::1]:8443/x",
     .scheme = "https",
     .host = "::1",
     .port = 8443,
     .path = "/x"},
    {.behaviour = "empty port text means no port",
     .text = "https://h:/x",
     .scheme = "https",
     .host = "h",
     .path = "/x"},
    {.behaviour = "port with leading zeros is read by value",
     .text = "https://h:0080/",
     .scheme = "https",
     .host = "h",
     .port = 80,
     .path = "/"},
    {.behaviour = "largest port is accepted",
     .text = "https://h:65535/",
     .scheme = "https",
     .host = "h",
     .port = 65535,
     .path = "/"},
    {.behaviour = "file URL has an empty host",
     .text = "file:///etc/hosts",
     .scheme = "file",
     .host = "",
     .path = "/etc/hosts"},
    {.behaviour = "absolute path reference has no scheme", .text = "/admin?x", .path = "/admin", .query = "x"},
    {.behaviour = "network path reference has a host but no scheme", .text = "//host/p", .host = "host", .path = "/p"},
    {.behaviour = "colon after a slash does not make a scheme", .text = "/a:b", .path = "/a:b"},
    {.behaviour = "text starting with a digit is not a scheme", .text = "1x:y", .path = "1x:y"},
    {.behaviour = "scheme may hold digits, plus, minus and dot",
     .text = "x-a.b+c1:rest",
     .scheme = "x-a.b+c1",
     .path = "rest"},
    {.behaviour = "non-ASCII UTF-8 text is accepted as written",
     .text = "https://h/caf\xC3\xA9",
     .scheme = "https",
     .host = "h",
     .path = "/caf\xC3\xA9"},
    {.behaviour = "empty text is the empty relative reference", .text = "", .path = ""},
    {.behaviour = "fragment-only reference", .text = "#top", .path = "", .fragment = "top"},
};

TEST(UrlParse, SplitsComponentsAsWritten) {
    for (const auto& c : kComponentsCases) {
        SCOPED_TRACE(c.behaviour);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->scheme(), c.scheme);
        EXPECT_EQ(url->user(), c.user);
        EXPECT_EQ(url->password(), c.password);
        EXPECT_EQ(url->host(), c.host);
        EXPECT_EQ(url->port(), c.port);
        EXPECT_EQ(url->path(), c.path);
        EXPECT_EQ(url->query(), c.query);
        EXPECT_EQ(url->fragment(), c.fragment);
    }
}

TEST(UrlParse, StringGivesBackTheParsedText) {
    for (const auto& c : kComponentsCases) {
        SCOPED_TRACE(c.behaviour);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->string(), c.text);
    }
}

struct RejectCase {
    const char* behaviour;
    const char* text;
};

const RejectCase kRejectCases[] = {
    {"port above 65535", "https://h:99999/"},
    {"port far above 65535 does not wrap around", "https://h:4294967297/"},
    {"port with a letter", "https://h:8a/"},
    {"negative port", "https://h:-1/"},
    {"space in the authority", "https://h /"},
    {"space in the path", "https://h/a b"},
    {"space in the query", "https://h/?a=b c"},
    {"leading space", " https://h/"},
    {"tab", "https://h/\t"},
    {"line break", "https://h/\n"},
    {"delete character", "https://h/\x7F"},
    {"double quote", "https://h/\""},
    {"angle brackets", "https://h/<x>"},
    {"backslash", "https://h\\evil/"},
    {"caret", "https://h/^"},
    {"backtick", "https://h/`"},
    {"curly braces", "https://h/{x}"},
    {"vertical bar", "https://h/a|b"},
    {"percent at the end", "https://h/a%"},
    {"percent with one hex digit", "https://h/a%4"},
    {"percent with non-hex digits", "https://h/a%zz"},
    {"percent with a non-hex second digit", "https://h/a%4z"},
    {"unclosed IPv6 bracket", "https://[::1/"},
    {"bracketed host without a colon", "https://[abc]/"},
    {"text after the IPv6 bracket that is not a port", "https://[::1]x/"},
    {"bracket inside a registered name", "https://h[1]/"},
    {"second colon in the host and port", "https://h:1:2/"},
};

TEST(UrlParse, RefusesTextThatIsNotAUrlReference) {
    for (const auto& c : kRejectCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_FALSE(Url::parse(c.text).has_value()) << c.text;
    }
}

TEST(UrlParse, NulByteIsRefused) {
    const std::string text("https://h/\0x", 12);
    EXPECT_FALSE(Url::parse(text).has_value());
}

struct QueryItemsCase {
    const char* behaviour;
    const char* text;
    std::vector<QueryItem> items;
};

const QueryItemsCase kQueryItemsCases[] = {
    {"no query gives no items", "https://h/admin", {}},
    {"empty query gives no items", "https://h/admin?", {}},
    {"names and values are percent-decoded",
     "https://h/admin?notification=notice&noticeId=payable%3A42#top",
     {{"notification", "notice"}, {"noticeId", "payable:42"}}},
    {"encoded at sign in a value", "https://h/admin?mailAccount=a%40b.fr", {{"mailAccount", "a@b.fr"}}},
    {"empty value differs from a missing value", "https://h/?a=&b", {{"a", ""}, {"b", nullopt}}},
    {"value keeps everything after the first equals sign", "https://h/?a=b=c", {{"a", "b=c"}}},
    {"plus sign stays a plus sign", "https://h/?q=a+b", {{"q", "a+b"}}},
    {"encoded name is decoded", "https://h/?%61%62=1", {{"ab", "1"}}},
    {"encoded ampersand does not split items", "https://h/?a=x%26y", {{"a", "x&y"}}},
    {"empty items between ampersands are kept", "https://h/?a&&b", {{"a", nullopt}, {"", nullopt}, {"b", nullopt}}},
    {"repeated names are all kept in order", "https://h/?a=1&a=2", {{"a", "1"}, {"a", "2"}}},
};

TEST(UrlQueryItems, SplitsAndDecodesTheQuery) {
    for (const auto& c : kQueryItemsCases) {
        SCOPED_TRACE(c.behaviour);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->queryItems(), c.items);
    }
}

struct FirstItemCase {
    const char* behaviour;
    const char* text;
    const char* name;
    std::optional<QueryItem> expected;
};

const FirstItemCase kFirstItemCases[] = {
    {"first of repeated names wins", "https://h/?a=1&a=2", "a", QueryItem{"a", "1"}},
    {"missing name gives nothing", "https://h/?a=1", "b", nullopt},
    {"no query gives nothing", "https://h/", "a", nullopt},
    {"name is matched after decoding", "https://h/?%61=1", "a", QueryItem{"a", "1"}},
    {"raw encoded name does not match", "https://h/?%61=1", "%61", nullopt},
    {"item without a value is found", "https://h/?x=1&flag", "flag", QueryItem{"flag", nullopt}},
    {"name match is case-sensitive", "https://h/?A=1", "a", nullopt},
};

TEST(UrlFirstQueryItem, FindsTheFirstItemByDecodedName) {
    for (const auto& c : kFirstItemCases) {
        SCOPED_TRACE(c.behaviour);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(url->firstQueryItem(c.name), c.expected);
    }
}

struct WithHostCase {
    const char* behaviour;
    const char* text;
    const char* host;
    const char* expected;
};

const WithHostCase kWithHostCases[] = {
    {"other components are kept", "https://u:p@velmora.fr:8443/admin/?x=%41#top", "staging.velmora.fr",
     "https://u:p@staging.velmora.fr:8443/admin/?x=%41#top"},
    {"host case is kept", "https://h/", "Velmora.FR", "https://Velmora.FR/"},
    {"IPv6 host gets brackets", "https://h:8443/x", "::1", "https://[::1]:8443/x"},
    {"IPv6 host can be replaced by a name", "https://[::1]/x", "h", "https://h/x"},
    {"empty port text is kept", "https://h:/x", "g", "https://g:/x"},
};

TEST(UrlWithHost, ReplacesOnlyTheHost) {
    for (const auto& c : kWithHostCases) {
        SCOPED_TRACE(c.behaviour);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        const Url replaced = url->withHost(c.host);
        EXPECT_EQ(replaced.host(), std::optional<std::string>(c.host));
        EXPECT_EQ(replaced.string(), c.expected);
        // The rebuilt text must parse back to the same components.
        EXPECT_EQ(Url::parse(replaced.string()), replaced);
    }
}

struct PercentDecodeCase {
    const char* behaviour;
    const char* text;
    std::optional<std::string> expected;
};

const PercentDecodeCase kPercentDecodeCases[] = {
    {"escape becomes its byte", "%41", "A"},
    {"lower-case hex is accepted", "%c3%a9", "\xC3\xA9"},
    {"text without escapes is unchanged", "abc+def", "abc+def"},
    {"escaped percent is decoded only once", "%2541", "%41"},
    {"empty text", "", ""},
    {"percent at the end fails", "a%", nullopt},
    {"single hex digit at the end fails", "%4", nullopt},
    {"non-hex digits fail", "%G1", nullopt},
    {"second digit not hex fails", "%4x", nullopt},
};

TEST(PercentDecode, DecodesEscapesAndRefusesBadOnes) {
    for (const auto& c : kPercentDecodeCases) {
        SCOPED_TRACE(c.behaviour);
        EXPECT_EQ(percentDecode(c.text), c.expected);
    }
}

}  // namespace
}  // namespace foundation
