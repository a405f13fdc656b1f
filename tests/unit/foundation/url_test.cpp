#include "platform/foundation/url.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

namespace foundation {
namespace {

using namespace std::literals;
using std::nullopt;

// The components in one line, absent ones left out, so that absent and empty differ.
std::string describe(const Url& url) {
    std::string out;
    const auto add = [&out](const char* name, const std::optional<std::string>& component) {
        if (component) out += (out.empty() ? "" : " ") + std::string(name) + "=" + *component;
    };
    add("scheme", url.scheme());
    add("user", url.user());
    add("pass", url.password());
    add("host", url.host());
    add("port", url.port() ? std::optional(std::to_string(*url.port())) : nullopt);
    add("path", url.path());
    add("query", url.query());
    add("frag", url.fragment());
    return out;
}

const struct {
    const char* text;
    const char* components;
} kComponents[] = {
    {"https://velmora.fr/admin", "scheme=https host=velmora.fr path=/admin"},
    // Nothing is normalised: case, the empty path and a trailing slash stay as written.
    {"HTTPS://Velmora.fr", "scheme=HTTPS host=Velmora.fr path="},
    {"https://h/admin/", "scheme=https host=h path=/admin/"},
    {"https://u@h:0443/", "scheme=https user=u host=h port=443 path=/"},
    {"https://u:p:q@h:65535/", "scheme=https user=u pass=p:q host=h port=65535 path=/"},
    {"https://u:@h/", "scheme=https user=u pass= host=h path=/"},
    {"https://a@b@h/", "scheme=https user=a@b host=h path=/"},  // the userinfo ends at the last "@"
    {"https://h:/x", "scheme=https host=h path=/x"},            // an empty port text is no port
    {"https://[::1]:8443/x", "scheme=https host=::1 port=8443 path=/x"},
    {"https://h/admin?n=notice&id=payable%3A42#top",
     "scheme=https host=h path=/admin query=n=notice&id=payable%3A42 frag=top"},
    {"https://h/p#a?b#c", "scheme=https host=h path=/p frag=a?b#c"},
    {"https://h/p?#", "scheme=https host=h path=/p query= frag="},
    {"https://h?x=1", "scheme=https host=h path= query=x=1"},
    {"mailto:a@b.fr", "scheme=mailto path=a@b.fr"},
    {"file:///etc/hosts", "scheme=file host= path=/etc/hosts"},
    {"x-a.b+c1:rest", "scheme=x-a.b+c1 path=rest"},
    // A colon after a "/", or after text that starts with a digit, does not end a scheme.
    {"/a:b?x", "path=/a:b query=x"},
    {"1x:y", "path=1x:y"},
    {"//host/p", "host=host path=/p"},
    {"https://h/caf\xC3\xA9", "scheme=https host=h path=/caf\xC3\xA9"},  // UTF-8 goes through unchecked
    {"", "path="},
    {"#top", "path= frag=top"},
};

TEST(UrlParse, SplitsComponentsAsWrittenAndGivesTheTextBack) {
    for (const auto& c : kComponents) {
        SCOPED_TRACE(c.text);
        const auto url = Url::parse(c.text);
        ASSERT_TRUE(url.has_value());
        EXPECT_EQ(describe(*url), c.components);
        EXPECT_EQ(url->string(), c.text);
    }
}

TEST(UrlParse, RefusesTextThatIsNotAUrlReference) {
    // Every ASCII character outside RFC 3986, NUL included; the check does not depend on the component.
    for (const char outside : "\0 \t\n\x7F\"<>\\^`{}|"sv) {
        EXPECT_FALSE(Url::parse("https://h/a"s + outside).has_value()) << int(outside);
    }
    for (const char* text : {"https://h:65536/", "https://h:4294967297/", "https://h:8a/", "https://h:-1/",
                             "https://h:1:2/", "https://h/a%", "https://h/a%4", "https://h/a%zz", "https://h/a%4z",
                             "https://[::1/", "https://[abc]/", "https://[::1]x/", "https://h[1]/", " https://h/"}) {
        EXPECT_FALSE(Url::parse(text).has_value()) << text;
    }
}

TEST(UrlQueryItems, SplitsAndDecodesTheQuery) {
    const struct {
        const char* text;
        const char* items;  // [name|value] or [name] for an item without "="
    } cases[] = {
        {"https://h/admin", ""},
        {"https://h/admin?", ""},
        {"https://h/admin?notification=notice&noticeId=payable%3A42#top", "[notification|notice][noticeId|payable:42]"},
        {"https://h/?a=&b", "[a|][b]"},
        {"https://h/?a=b=c&q=a+b", "[a|b=c][q|a+b]"},  // "+" stays "+"
        {"https://h/?%61%62=x%26y%40", "[ab|x&y@]"},   // decoded after the split
        {"https://h/?a&&b", "[a][][b]"},
        {"https://h/?a=1&a=2", "[a|1][a|2]"},
    };
    for (const auto& c : cases) {
        std::string items;
        for (const auto& item : Url::parse(c.text)->queryItems()) {
            items += "[" + item.name + (item.value ? "|" + *item.value : "") + "]";
        }
        EXPECT_EQ(items, c.items) << c.text;
    }
}

TEST(UrlQueryItems, FirstItemIsFoundByItsExactDecodedName) {
    const auto url = Url::parse("https://h/?a=1&a=2&%62=3&flag&A=4");
    EXPECT_EQ(url->firstQueryItem("a"), (QueryItem{"a", "1"}));
    EXPECT_EQ(url->firstQueryItem("A"), (QueryItem{"A", "4"}));
    EXPECT_EQ(url->firstQueryItem("b"), (QueryItem{"b", "3"}));
    EXPECT_EQ(url->firstQueryItem("flag"), (QueryItem{"flag", nullopt}));
    EXPECT_EQ(url->firstQueryItem("%62"), nullopt);
    EXPECT_EQ(url->firstQueryItem("c"), nullopt);
    EXPECT_EQ(Url::parse("https://h/")->firstQueryItem("a"), nullopt);
}

TEST(UrlWithHost, ReplacesOnlyTheHost) {
    const struct {
        const char* text;
        const char* host;
        const char* expected;
    } cases[] = {
        {"https://u:p@velmora.fr:8443/admin/?x=%41#top", "staging.velmora.fr",
         "https://u:p@staging.velmora.fr:8443/admin/?x=%41#top"},
        {"https://h/", "Velmora.FR", "https://Velmora.FR/"},
        {"https://h:8443/x", "::1", "https://[::1]:8443/x"},
        {"https://[::1]/x", "h", "https://h/x"},
        {"https://h:/x", "g", "https://g:/x"},
    };
    for (const auto& c : cases) {
        const Url replaced = Url::parse(c.text)->withHost(c.host);
        EXPECT_EQ(replaced.host(), std::optional<std::string>(c.host));
        EXPECT_EQ(replaced.string(), c.expected);
        EXPECT_EQ(Url::parse(replaced.string()), replaced);
    }
}

TEST(PercentDecode, DecodesEscapesAndRefusesBadOnes) {
    const struct {
        const char* text;
        std::optional<std::string> expected;
    } cases[] = {
        {"%41", "A"},    {"%c3%a9", "\xC3\xA9"}, {"abc+def", "abc+def"}, {"%2541", "%41"}, {"", ""},
        {"a%", nullopt}, {"%4", nullopt},        {"%G1", nullopt},       {"%4x", nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(percentDecode(c.text), c.expected) << c.text;
}

}  // namespace
}  // namespace foundation
