// The icon in the tray and the badge in the docks at the message boundary, on a private bus: what
// a StatusNotifierWatcher, a tray host reading the item and its dbusmenu, and a dock listening
// for launcher entry updates see and can do.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbus_fakes.h"
#include "platform/gtk/dbus_menu.h"
#include "platform/gtk/launcher_entry.h"
#include "platform/gtk/status_notifier_item.h"
#include "temp_folder.h"

namespace velmora_test {
namespace {

using Strings = std::vector<std::string>;

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
constexpr const char* kMenuPath = "/StatusNotifierItem/Menu";

constexpr const char* kWatcherXml =
    "<node><interface name='org.kde.StatusNotifierWatcher'>"
    "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
    "</interface></node>";

// org.kde.StatusNotifierWatcher as the trays run it; log: "register SERVICE".
class FakeWatcher final : public FakeService {
public:
    explicit FakeWatcher(GDBusConnection* connection)
        : FakeService(connection, "org.kde.StatusNotifierWatcher", kWatcherXml) {
        serve("/StatusNotifierWatcher", 0);
        own();
    }

private:
    void handle(const std::string&, const std::string&, const std::string&, GVariant* parameters,
                GDBusMethodInvocation* invocation) override {
        const char* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        record(std::string("register ") + service);
        if (refuses_) {
            g_dbus_method_invocation_return_dbus_error(invocation, "org.kde.StatusNotifierWatcher.Error.Refused",
                                                       "Trop d’icônes");
            return;
        }
        g_dbus_method_invocation_return_value(invocation, nullptr);
    }
};

class RecordingLog final : public platform::Log {
public:
    void write(const std::string& line) override { lines.push_back(line); }
    Strings lines;
};

// Signals of one interface received on a connection, as text with their path, from the moment
// the recorder exists.
class SignalRecorder {
public:
    SignalRecorder(GDBusConnection* connection, const char* interface) : connection_(connection) {
        subscription_ = g_dbus_connection_signal_subscribe(
            connection, nullptr, interface, nullptr, nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
            [](GDBusConnection*, const char*, const char* path, const char*, const char* signal, GVariant* parameters,
               gpointer data) {
                g_autofree char* text = g_variant_print(parameters, TRUE);
                static_cast<SignalRecorder*>(data)->received.push_back(std::string(path) + " " + signal + text);
            },
            this, nullptr);
        // The bus answers this call after it has taken the match rule that the subscription
        // sent before it: from here on no signal is missed.
        EXPECT_TRUE(flushBus(connection));
    }
    ~SignalRecorder() { g_dbus_connection_signal_unsubscribe(connection_, subscription_); }
    SignalRecorder(const SignalRecorder&) = delete;
    SignalRecorder& operator=(const SignalRecorder&) = delete;

    Strings received;

private:
    GDBusConnection* connection_;
    guint subscription_ = 0;
};

class TrayTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_NE(connection, nullptr) << "dbus-daemon did not start"; }
    void TearDown() override {
        g_clear_object(&host);
        g_clear_object(&connection);
    }

    // Calls `method` of the application from the host, as trays do, and waits for the answer:
    // its text, or "error: NAME" for an error.
    std::string call(const char* path, const char* interface, const char* method, GVariant* parameters,
                     const char* destination = nullptr) {
        std::optional<std::string> answer;
        struct Wait {
            std::optional<std::string>* answer;
        };
        g_dbus_connection_call(
            host, destination ? destination : g_dbus_connection_get_unique_name(connection), path, interface, method,
            parameters, nullptr, G_DBUS_CALL_FLAGS_NONE, 5000, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<Wait> wait(static_cast<Wait*>(data));
                g_autoptr(GError) error = nullptr;
                g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
                if (reply) {
                    g_autofree char* text = g_variant_print(reply, TRUE);
                    *wait->answer = text;
                } else {
                    g_autofree char* name = g_dbus_error_get_remote_error(error);
                    *wait->answer = std::string("error: ") + (name ? name : error->message);
                }
            },
            new Wait{&answer});
        EXPECT_TRUE(runMainLoopUntil([&answer] { return answer.has_value(); })) << method << " never answered";
        return answer.value_or("no answer");
    }
    std::string property(const char* path, const char* interface, const char* name) {
        return call(path, "org.freedesktop.DBus.Properties", "Get", g_variant_new("(ss)", interface, name));
    }

    PrivateBus bus;
    GDBusConnection* connection = bus.connect();  // the application's
    GDBusConnection* host = bus.connect();        // the tray's host, or the dock
};

// ---- The status notifier item ----

class StatusNotifierItemTest : public TrayTest {
protected:
    std::unique_ptr<gtk::StatusNotifierItem> makeItem(
        gtk::StatusNotifierIdentity identity = {
            "fr.velmora.universal", "fr.velmora.universal", "/opt/Velmora.app/Contents/Resources", {}}) {
        return std::make_unique<gtk::StatusNotifierItem>(
            context, connection, std::move(identity), "Velmóra", [this] { ++activations; }, log);
    }
    // Waits until the bus has told the item of every owner change so far, and the item's own
    // calls to the bus have been answered.
    void settle() { ASSERT_TRUE(flushBus(connection) && flushBus(connection)); }

    gtk::Context context;
    RecordingLog log;
    int activations = 0;
};

TEST_F(StatusNotifierItemTest, RegistersWithEachWatcherThatAppearsAndStaysSilentWithoutOne) {
    const auto item = makeItem();
    settle();
    EXPECT_EQ(item->busName().rfind("org.kde.StatusNotifierItem-", 0), 0u);
    EXPECT_EQ(log.lines, Strings{});

    // A tray that starts after the application.
    auto first = std::make_unique<FakeWatcher>(bus.connect());
    ASSERT_TRUE(runMainLoopUntil([&] { return first->count("register") == 1; }));
    EXPECT_EQ(first->log(), Strings{"register " + item->busName()});

    // The tray restarts: the new watcher hears of the item too.
    first->leave();
    FakeWatcher second(bus.connect());
    ASSERT_TRUE(runMainLoopUntil([&] { return second.count("register") == 1; }));
    EXPECT_EQ(second.log(), Strings{"register " + item->busName()});
    EXPECT_EQ(log.lines, Strings{});
}

TEST_F(StatusNotifierItemTest, AWatcherThatRefusesTheItemIsLogged) {
    FakeWatcher watcher(bus.connect());
    watcher.refuse();
    const auto item = makeItem();
    ASSERT_TRUE(runMainLoopUntil([&] { return !log.lines.empty(); }));
    EXPECT_EQ(log.lines, Strings{"Velmóra: icône de la zone de notification non inscrite: Trop d’icônes"});
}

TEST_F(StatusNotifierItemTest, PropertiesDescribeTheApplicationAndItsToolTip) {
    const auto item = makeItem();
    settle();
    const struct {
        const char* name;
        const char* value;
    } cases[] = {
        {"Category", "(<'ApplicationStatus'>,)"},
        {"Id", "(<'fr.velmora.universal'>,)"},
        {"Title", "(<'Velmóra'>,)"},
        {"Status", "(<'Active'>,)"},
        {"IconName", "(<'fr.velmora.universal'>,)"},
        {"IconThemePath", "(<'/opt/Velmora.app/Contents/Resources'>,)"},
        {"IconPixmap", "(<@a(iiay) []>,)"},
        {"AttentionIconName", "(<''>,)"},
        // Left and right clicks are the host's: a left click activates, a right one shows the menu.
        {"ItemIsMenu", "(<false>,)"},
        {"Menu", "(<objectpath '/StatusNotifierItem/Menu'>,)"},
        {"ToolTip", "(<('fr.velmora.universal', @a(iiay) [], '', '')>,)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(property("/StatusNotifierItem", kItemInterface, c.name), c.value);
    }

    SignalRecorder signals(host, kItemInterface);
    item->setToolTip("Velmóra", "Notifications : <actives> & à jour\n2 notifications non lues");
    item->setToolTip("Velmóra", "Notifications : <actives> & à jour\n2 notifications non lues");
    ASSERT_TRUE(flushSignals(connection, host));
    EXPECT_EQ(signals.received, Strings{"/StatusNotifierItem NewToolTip()"});
    // Hosts may read the text as markup: it is escaped to show as written.
    EXPECT_EQ(property("/StatusNotifierItem", kItemInterface, "ToolTip"),
              "(<('fr.velmora.universal', @a(iiay) [], 'Velmóra', "
              "'Notifications : &lt;actives&gt; &amp; à jour\\n2 notifications non lues')>,)");
}

TEST_F(StatusNotifierItemTest, ActivationRunsTheHandlerAndOtherClicksDoNothing) {
    const auto item = makeItem();
    settle();
    EXPECT_EQ(call("/StatusNotifierItem", kItemInterface, "ContextMenu", g_variant_new("(ii)", 10, 20)), "()");
    EXPECT_EQ(call("/StatusNotifierItem", kItemInterface, "SecondaryActivate", g_variant_new("(ii)", 10, 20)), "()");
    EXPECT_EQ(call("/StatusNotifierItem", kItemInterface, "Scroll", g_variant_new("(is)", 1, "vertical")), "()");
    // No window yet to hand the token to: it is dropped.
    EXPECT_EQ(call("/StatusNotifierItem", kItemInterface, "ProvideXdgActivationToken", g_variant_new("(s)", "t")),
              "()");
    EXPECT_EQ(activations, 0);
    EXPECT_EQ(call("/StatusNotifierItem", kItemInterface, "Activate", g_variant_new("(ii)", 10, 20)), "()");
    EXPECT_EQ(activations, 1);
}

// The icon's pixels go as ARGB in network byte order, at the sizes trays draw.
TEST_F(StatusNotifierItemTest, TheBundlesIconGoesAlongAsPixmaps) {
    adapter_test::TempFolder folder;
    const std::string resources = folder / "Velmora.app/Contents/Resources";
    g_mkdir_with_parents(resources.c_str(), 0700);
    g_autoptr(GdkPixbuf) image = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 128, 128);
    gdk_pixbuf_fill(image, 0x10203080);  // red 0x10, green 0x20, blue 0x30, half transparent
    ASSERT_TRUE(gdk_pixbuf_save(image, (resources + "/fr.velmora.universal-128.png").c_str(), "png", nullptr, nullptr));

    const gtk::StatusNotifierIdentity identity =
        gtk::StatusNotifierItems::identityOf(gtk::AppBundle(folder / "Velmora.app"));
    EXPECT_EQ(identity.id, "fr.velmora.universal");
    EXPECT_EQ(identity.iconName, "fr.velmora.universal");
    EXPECT_EQ(identity.iconThemePath, resources);
    std::vector<int> sizes;
    for (const auto& pixmap : identity.pixmaps) {
        sizes.push_back(pixmap.width);
        EXPECT_EQ(pixmap.height, pixmap.width);
        ASSERT_EQ(pixmap.argb.size(), static_cast<size_t>(pixmap.width) * pixmap.height * 4);
        EXPECT_EQ(std::vector<std::uint8_t>(pixmap.argb.begin(), pixmap.argb.begin() + 4),
                  (std::vector<std::uint8_t>{0x80, 0x10, 0x20, 0x30}));
    }
    EXPECT_EQ(sizes, (std::vector<int>{22, 32, 48, 64}));

    const auto item = makeItem(identity);
    settle();
    const std::string pixmaps = property("/StatusNotifierItem", kItemInterface, "IconPixmap");
    EXPECT_EQ(pixmaps.rfind("(<[(22, 22, [byte 0x80, 0x10, 0x20, 0x30,", 0), 0u) << pixmaps.substr(0, 80);

    // Without a bundle, there is the name alone.
    const gtk::StatusNotifierIdentity bare = gtk::StatusNotifierItems::identityOf(gtk::AppBundle(""));
    EXPECT_EQ(bare.iconThemePath, "");
    EXPECT_TRUE(bare.pixmaps.empty());
}

// ---- The menu ----

class DBusMenuTest : public TrayTest {
protected:
    void SetUp() override {
        TrayTest::SetUp();
        menu = std::make_unique<gtk::DBusMenu>(connection, kMenuPath);
        open = menu->addItem({"Ouvrir Velmóra", "showNativeWindow", ""}, [this] { chosen.push_back("open"); });
        menu->addSeparator();
        status = menu->addItem({"Notifications : connexion nécessaire", "", ""}, {});
        quit = menu->addItem({"Quitter_Velmóra", "terminate:", "q"}, [this] { chosen.push_back("quit"); });
        platform::Menu& more = menu->addSubmenu("Plus");
        login = more.addItem({"Démarrage automatique", "toggleLoginStart", ""}, [this] { chosen.push_back("login"); });
        login->setChecked(true);
        ASSERT_TRUE(flushBus(connection));
    }
    std::string layout(int parent, int depth, const Strings& names = {}) {
        GVariantBuilder wanted;
        g_variant_builder_init(&wanted, G_VARIANT_TYPE_STRING_ARRAY);
        for (const auto& name : names) g_variant_builder_add(&wanted, "s", name.c_str());
        return call(kMenuPath, kMenuInterface, "GetLayout", g_variant_new("(iias)", parent, depth, &wanted));
    }
    std::string event(int id, const char* kind = "clicked") {
        return call(kMenuPath, kMenuInterface, "Event", g_variant_new("(isvu)", id, kind, g_variant_new_int32(0), 0));
    }

    std::unique_ptr<gtk::DBusMenu> menu;
    std::shared_ptr<platform::MenuItem> open, status, quit, login;
    Strings chosen;
};

TEST_F(DBusMenuTest, TheLayoutHoldsEveryItemWithWhatHostsDrawOfIt) {
    // The revision counts every change since the menu was made.
    EXPECT_EQ(layout(0, -1),
              "(uint32 7, (0, {'children-display': <'submenu'>}, "
              "[<(1, {'label': <'Ouvrir Velmóra'>}, @av [])>, "
              "<(2, {'type': <'separator'>}, @av [])>, "
              // No handler: insensitive.
              "<(3, {'label': <'Notifications : connexion nécessaire'>, 'enabled': <false>}, @av [])>, "
              // A title's underscore is no mnemonic.
              "<(4, {'label': <'Quitter__Velmóra'>, 'shortcut': <[['Control', 'q']]>}, @av [])>, "
              "<(5, {'label': <'Plus'>, 'children-display': <'submenu'>}, "
              "[<(6, {'label': <'Démarrage automatique'>, 'toggle-type': <'checkmark'>, 'toggle-state': <1>}, "
              "@av [])>])>]))");
    const struct {
        int parent, depth;
        Strings names;
        const char* layout;
    } cases[] = {
        {0, 0, {}, "(uint32 7, (0, {'children-display': <'submenu'>}, @av []))"},
        {5,
         1,
         {"label"},
         "(uint32 7, (5, {'label': <'Plus'>}, [<(6, {'label': <'Démarrage automatique'>}, @av [])>]))"},
        {3, -1, {"enabled", "visible"}, "(uint32 7, (3, {'enabled': <false>}, @av []))"},
        {42, -1, {}, "error: org.freedesktop.DBus.Error.InvalidArgs"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.parent);
        EXPECT_EQ(layout(c.parent, c.depth, c.names), c.layout);
    }
}

TEST_F(DBusMenuTest, AClickOnASensitiveItemRunsItsHandler) {
    const struct {
        int id;
        const char* kind;
        const char* answer;
        Strings chosen;
    } cases[] = {
        {1, "clicked", "()", {"open"}}, {6, "clicked", "()", {"login"}},
        {1, "hovered", "()", {}},       {3, "clicked", "()", {}},  // the status line
        {2, "clicked", "()", {}},                                  // a separator
        {5, "clicked", "()", {}},                                  // a submenu's own item
        {0, "opened", "()", {}},        {42, "clicked", "error: org.freedesktop.DBus.Error.InvalidArgs", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + " " + c.kind);
        chosen.clear();
        EXPECT_EQ(event(c.id, c.kind), c.answer);
        EXPECT_EQ(chosen, c.chosen);
    }
    chosen.clear();
    const auto group = [this](const std::vector<int>& ids) {
        GVariantBuilder events;
        g_variant_builder_init(&events, G_VARIANT_TYPE("a(isvu)"));
        for (const int id : ids) g_variant_builder_add(&events, "(isvu)", id, "clicked", g_variant_new_int32(0), 0);
        return call(kMenuPath, kMenuInterface, "EventGroup", g_variant_new("(a(isvu))", &events));
    };
    EXPECT_EQ(group({4, 42}), "([42],)");
    EXPECT_EQ(chosen, Strings{"quit"});
    EXPECT_EQ(group({41, 42}), "error: org.freedesktop.DBus.Error.InvalidArgs");
}

TEST_F(DBusMenuTest, PropertiesAreReadOneByOneOrByGroup) {
    EXPECT_EQ(call(kMenuPath, kMenuInterface, "GetProperty", g_variant_new("(is)", 3, "label")),
              "(<'Notifications : connexion nécessaire'>,)");
    EXPECT_EQ(call(kMenuPath, kMenuInterface, "GetProperty", g_variant_new("(is)", 1, "enabled")),
              "error: org.freedesktop.DBus.Error.InvalidArgs");  // sensitive is the default, not sent
    const char* labels[] = {"label", nullptr};
    EXPECT_EQ(call(kMenuPath, kMenuInterface, "GetGroupProperties",
                   g_variant_new("(@ai^as)", g_variant_new_parsed("[1, 42, 3]"), labels)),
              "([(1, {'label': <'Ouvrir Velmóra'>}), (3, {'label': <'Notifications : connexion nécessaire'>})],)");
    EXPECT_EQ(call(kMenuPath, kMenuInterface, "AboutToShow", g_variant_new("(i)", 0)), "(false,)");
    EXPECT_EQ(call(kMenuPath, kMenuInterface, "AboutToShowGroup", g_variant_new_parsed("([0, 42],)")),
              "(@ai [], [42])");
    const struct {
        const char* name;
        const char* value;
    } cases[] = {{"Version", "(<uint32 3>,)"}, {"TextDirection", "(<'ltr'>,)"}, {"Status", "(<'normal'>,)"}};
    for (const auto& c : cases) EXPECT_EQ(property(kMenuPath, kMenuInterface, c.name), c.value) << c.name;
}

TEST_F(DBusMenuTest, HostsHearOfNewItemsOnceAndOfNewTitlesAndCheckMarksAtOnce) {
    SignalRecorder signals(host, kMenuInterface);
    status->setTitle("Notifications synchronisées : actives");
    status->setTitle("Notifications synchronisées : actives");
    login->setChecked(false);
    menu->addItem({"Un", "un", ""}, [] {});
    menu->addItem({"Deux", "deux", ""}, [] {});
    ASSERT_TRUE(flushSignals(connection, host));  // the updates sent before the main loop turned
    ASSERT_TRUE(runMainLoopUntil([&] { return signals.received.size() == 3; }));
    ASSERT_TRUE(flushSignals(connection, host));
    EXPECT_EQ(signals.received,
              (Strings{"/StatusNotifierItem/Menu ItemsPropertiesUpdated([(3, {'label': <'Notifications "
                       "synchronisées : actives'>, 'enabled': <false>})], @a(ias) [])",
                       "/StatusNotifierItem/Menu ItemsPropertiesUpdated([(6, {'label': <'Démarrage automatique'>, "
                       "'toggle-type': <'checkmark'>, 'toggle-state': <0>})], @a(ias) [])",
                       "/StatusNotifierItem/Menu LayoutUpdated(uint32 9, 0)"}));
    EXPECT_EQ(status->title(), "Notifications synchronisées : actives");
}

TEST_F(DBusMenuTest, AnItemThatOutlivesItsMenuChangesNothing) {
    menu.reset();
    status->setTitle("Notifications synchronisées : actives");
    login->setChecked(false);
    EXPECT_EQ(status->title(), "Notifications synchronisées : actives");
    EXPECT_EQ(call(kMenuPath, kMenuInterface, "AboutToShow", g_variant_new("(i)", 0)),
              "error: org.freedesktop.DBus.Error.UnknownMethod");
}

// ---- The launcher entry ----

TEST_F(TrayTest, TheBadgeGoesToTheDocksAsAnUpdateOfTheDesktopEntry) {
    SignalRecorder updates(host, "com.canonical.Unity.LauncherEntry");
    gtk::UnityLauncherEntry entry(connection, "fr.velmora.universal");
    entry.setBadge(3);
    entry.setBadge(std::nullopt);
    entry.setBadge(12);
    ASSERT_TRUE(flushSignals(connection, host));
    const std::string path = "/fr/velmora/universal/LauncherEntry Update";
    EXPECT_EQ(updates.received, (Strings{path + "('application://fr.velmora.universal.desktop', {'count': <int64 3>, "
                                                "'count-visible': <true>})",
                                         path + "('application://fr.velmora.universal.desktop', {'count': <int64 0>, "
                                                "'count-visible': <false>})",
                                         path + "('application://fr.velmora.universal.desktop', {'count': <int64 12>, "
                                                "'count-visible': <true>})"}));
}

// Ubuntu's dock and Dash to Dock take com.canonical.Unity; one that starts, or restarts, after
// the application has missed the badge.
TEST_F(TrayTest, ADockThatStartsLaterHearsAShownBadgeAgain) {
    SignalRecorder updates(host, "com.canonical.Unity.LauncherEntry");
    gtk::UnityLauncherEntry entry(connection, "fr.velmora.universal");
    ASSERT_TRUE(flushBus(connection));
    entry.setBadge(std::nullopt);
    GDBusConnection* dock = bus.connect();
    ASSERT_TRUE(ownName(dock, "com.canonical.Unity"));
    ASSERT_TRUE(flushBus(connection));
    ASSERT_TRUE(flushSignals(connection, host));
    EXPECT_EQ(updates.received.size(), 1u) << "a hidden badge is not sent again";

    entry.setBadge(5);
    g_dbus_connection_close_sync(dock, nullptr, nullptr);
    g_object_unref(dock);
    GDBusConnection* restarted = bus.connect();
    ASSERT_TRUE(ownName(restarted, "com.canonical.Unity"));
    ASSERT_TRUE(flushBus(connection));
    ASSERT_TRUE(flushSignals(connection, host));
    ASSERT_EQ(updates.received.size(), 3u);
    EXPECT_EQ(updates.received[1], updates.received[2]);
    EXPECT_NE(updates.received[2].find("'count': <int64 5>"), std::string::npos);
    g_object_unref(restarted);
}

TEST(Tray, WithoutABusNothingIsServedAndNothingFails) {
    gtk::Context context;
    RecordingLog log;
    gtk::StatusNotifierItem item(
        context, nullptr, {}, "Velmóra", [] {}, log);
    item.menu().addItem({"Ouvrir Velmóra", "showNativeWindow", ""}, [] {})->setTitle("Ouvrir");
    item.setToolTip("Velmóra", "Notifications");
    gtk::UnityLauncherEntry entry(nullptr, "fr.velmora.universal");
    entry.setBadge(2);
    EXPECT_EQ(log.lines, Strings{});
}

}  // namespace
}  // namespace velmora_test
