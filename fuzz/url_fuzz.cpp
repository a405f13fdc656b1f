// URL references from any bytes: the splitter either refuses the text or keeps it exactly,
// and the query items it reports decode consistently.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/require.h"
#include "platform/foundation/url.h"

using fuzzing::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)foundation::percentDecode(text);

    const auto url = foundation::Url::parse(text);
    if (!url) return 0;
    // Every consumer relies on this: what was parsed is what was written.
    require(url->string() == text, "a parsed URL rebuilds as the text it came from");
    const auto again = foundation::Url::parse(url->string());
    require(again.has_value() && *again == *url, "a rebuilt URL parses to the same components");
    require(!url->port() || (*url->port() >= 0 && *url->port() <= 65535), "a port is in range");

    const auto items = url->queryItems();
    require(items.empty() == (!url->query() || url->query()->empty()), "a non-empty query has items");
    for (const auto& item : items) {
        const auto first = url->firstQueryItem(item.name);
        require(first.has_value() && first->name == item.name, "every item's name finds an item");
    }

    // Another host keeps every other component; a registered name without delimiters is
    // what the controller puts there.
    const auto moved = url->withHost("autre.velmora.fr");
    require(moved.host() == "autre.velmora.fr" && moved.path() == url->path() && moved.query() == url->query() &&
                moved.fragment() == url->fragment() && moved.port() == url->port(),
            "withHost changes only the host");
    if (url->host()) {
        const auto reparsed = foundation::Url::parse(moved.string());
        require(reparsed.has_value() && *reparsed == moved, "a URL with another host still parses the same");
    }
    return 0;
}
