// The application's face while no window shows: an icon in the desktop's tray, whose menu and
// tooltip follow the notification status of the application menu, and the number of unread
// inbox entries as a badge on the application's icon in the docks.
#include <string>

#include "app/texts.h"
#include "app/velmora.h"

namespace velmora {

namespace {

// Docks draw no badge for an application without unread entries; zero hides it too.
std::optional<std::int64_t> badgeOf(std::optional<std::int64_t> count) {
    return count && *count > 0 ? count : std::nullopt;
}

std::string unreadText(std::int64_t count) {
    if (count == 0) return texts::kUnreadNone;
    if (count == 1) return texts::kUnreadOne;
    return std::to_string(count) + texts::kUnreadManySuffix;
}

}  // namespace

void Velmora::buildStatusItemAndBadge() {
    // Activating the icon is the reopen of a desktop without a dock: the window comes back.
    statusItem = platform_.statusItems.makeStatusItem(texts::kProductName, weakly([this] { showNativeWindow(); }));
    platform::Menu& menu = statusItem->menu();
    menu.addItem({texts::kOpenWindow, "showNativeWindow", ""}, weakly([this] { showNativeWindow(); }));
    menu.addSeparator();
    // The status line, the test and the stop follow each other as in the application menu.
    const std::string status = noticeStatus ? noticeStatus->title() : texts::kStatusSignInNeeded;
    statusItemNoticeStatus = menu.addItem({status, "", ""}, {});
    menu.addItem({texts::kTestNotice, "testNativeNotice", ""}, weakly([this] { testNativeNotice(); }));
    menu.addItem({texts::kStopService, "stopNativeService", ""}, weakly([this] { stopNativeService(); }));
    refreshStatusItemToolTip();

    // Published once whatever it is: a dock that keeps badges by application, not by the
    // process that sent them, may still show the count of an earlier run that ended without
    // hiding it (a crash, a kill). From here on only a change is published.
    platform_.launcherEntry.setBadge(badgeOf(unreadCount));
}

void Velmora::showNoticeStatus(const std::string& title) {
    if (noticeStatus) noticeStatus->setTitle(title);
    if (statusItemNoticeStatus) statusItemNoticeStatus->setTitle(title);
    refreshStatusItemToolTip();
}

void Velmora::showUnreadCount(std::optional<std::int64_t> count) {
    const bool badgeChanges = badgeOf(count) != badgeOf(unreadCount);
    const bool countChanges = count != unreadCount;
    unreadCount = count;
    if (countChanges) refreshStatusItemToolTip();
    // Before the launch has built the item, the launch publishes the badge itself. A count is
    // published after every signed-in poll, since a dock started since the last one (one that
    // takes no bus name, as KDE's task manager and Plank) learns it no other way; without one,
    // only the badge's going is.
    if (statusItem && (count || badgeChanges)) platform_.launcherEntry.setBadge(badgeOf(count));
}

void Velmora::refreshStatusItemToolTip() {
    if (!statusItem || !statusItemNoticeStatus) return;
    std::string text = statusItemNoticeStatus->title();
    if (unreadCount) text += "\n" + unreadText(*unreadCount);
    statusItem->setToolTip(texts::kProductName, text);
}

}  // namespace velmora
