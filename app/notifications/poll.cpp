// The inbox poll: once a minute and after every console load, a script in the page reads the
// signed-in user, the inbox and the notification preferences through the page's own `api`
// function; its answer feeds clearing and the selection of new notices.
#include <string>
#include <vector>

#include "app/notifications/inbox_entry.h"
#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {

constexpr const char* kConsolePath = "/admin";

// Evaluated as the body of an async function in the page's own world, where the page's `api`
// resolves a service path to its parsed JSON body. The two inbox requests run in parallel; a
// failed request rejects the evaluation as a whole.
constexpr const char kPollScript[] =
    "if(typeof api!=='function')return {authenticated:false};\n"
    "const session=await api('/api/session');"
    "if(!session.authenticated||session.role!=='admin')return {authenticated:false};\n"
    "const [feed,options]=await Promise.all([api('/api/admin/notification-inbox'),api('/api/admin/options')]);\n"
    "return {authenticated:true,notifications:feed.notifications,readIds:feed.readIds,"
    "preferences:options.notifications};";

// The poll script for the console at `origin`. The view reports the URL of a load as soon as it
// starts, while the earlier document still runs, and the script runs in that document: so it
// first makes sure, from the document's own location, which no page can change or shadow, that
// it runs in the console it is meant for. Any other document answers as a console signed out.
std::string pollScriptFor(const std::string& origin) {
    return "if(location.origin!==" + foundation::JsValue(origin).toJson() + ")return {authenticated:false};\n" +
           kPollScript;
}

// The inbox entries. They are read together or not at all: one element that is not an
// object voids the whole array.
foundation::JsValue::Array entriesOf(const foundation::JsValue& snapshot) {
    const foundation::JsValue* value = snapshot.member("notifications");
    if (!value || !value->array()) return {};
    for (const auto& entry : *value->array())
        if (!entry.isObject()) return {};
    return *value->array();
}

// The ids of read entries; an array holding anything but strings counts as empty.
std::vector<std::string> readIdsOf(const foundation::JsValue& snapshot) {
    const foundation::JsValue* value = snapshot.member("readIds");
    if (!value || !value->array()) return {};
    std::vector<std::string> ids;
    for (const auto& id : *value->array()) {
        if (!id.string()) return {};
        ids.push_back(*id.string());
    }
    return ids;
}

// The preferences by preference key; one value that is not an object voids them all.
foundation::JsValue::Object preferencesOf(const foundation::JsValue& snapshot) {
    const foundation::JsValue* value = snapshot.member("preferences");
    if (!value || !value->object()) return {};
    for (const auto& [key, preference] : *value->object())
        if (!preference.isObject()) return {};
    return *value->object();
}

}  // namespace

std::optional<foundation::Url> Velmora::consoleToPoll() const {
    // While a connection is pending, the view shows our page for a load that failed, at the
    // failed URL, or the first page still loading: neither is the console, whatever the URL says.
    if (pendingConnectionURL) return std::nullopt;
    std::optional<foundation::Url> pageURL = web->url();
    if (!pageURL) return std::nullopt;
    // Only the console page carries the signed-in session and its `api`; the query is not examined.
    if (pageURL->path() != kConsolePath) return std::nullopt;
    // The answer decides which notifications are shown and withdrawn: the page must be the
    // instance's own, over HTTPS.
    if (!isInstancePage(*pageURL)) return std::nullopt;
    return pageURL;
}

void Velmora::pollNativeNotifications() {
    // At most one script is in flight: a tick or a page load during a poll does nothing.
    if (noticeBusy) return;
    // Without a web view there is no page to ask; a later tick finds one.
    if (!web) return;
    const std::optional<foundation::Url> pageURL = consoleToPoll();
    if (!pageURL) {
        // Nothing keeps the unread count up to date any more: a badge would only grow stale.
        showUnreadCount(std::nullopt);
        return;
    }
    noticeBusy = true;

    // The two answers may come in either order; the result handler uses whatever delivered
    // list has arrived by then.
    platform_.notifications.delivered(weakly([this](const std::vector<platform::NotificationRequest>& answer) {
        currentDeliveredNoticeIds.clear();
        for (const auto& request : answer) currentDeliveredNoticeIds.insert(request.identifier);
    }));
    web->callAsyncJavaScript(pollScriptFor("https://" + pageURL->hostOrEmpty()),
                             weakly([this, pollURL = *pageURL](const platform::ScriptResult& answer) {
                                 handlePollResult(pollURL, answer);
                             }));
}

void Velmora::handlePollResult(const foundation::Url& pollURL, const platform::ScriptResult& result) {
    noticeBusy = false;
    const foundation::JsValue* snapshot = std::get_if<foundation::JsValue>(&result);
    const foundation::JsValue* authenticated = snapshot ? snapshot->member("authenticated") : nullptr;
    // A failed evaluation, an answer of another shape and a session that is not an
    // administrator's all mean the same to the user: the console needs a sign-in.
    if (!authenticated || authenticated->boolean() != true) {
        showNoticeStatus(texts::kStatusOpenToSignIn);
        showUnreadCount(std::nullopt);
        return;
    }
    showNoticeStatus(texts::kStatusActive);

    // The host of the page when the poll began, even if the page has moved on since.
    const std::string host = pollURL.hostOrEmpty();
    const foundation::JsValue::Object preferences = preferencesOf(*snapshot);
    const std::vector<std::string> readIds = readIdsOf(*snapshot);
    clearSharedNotices(readIds, host);
    const foundation::JsValue::Array entries = entriesOf(*snapshot);
    removeNoticesOfReadEntries(entries, host);
    runSelectionPass(entries, preferences, host);
    showUnreadCount(inbox::countUnread(entries, readIds));
}

}  // namespace velmora
