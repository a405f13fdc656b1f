#include "platform/gtk/status_notifier_item.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <unistd.h>

#include <atomic>
#include <utility>

#include "platform/gtk/callback_handle.h"

namespace gtk {

namespace {

constexpr const char* kInterface = "org.kde.StatusNotifierItem";
constexpr const char* kItemPath = "/StatusNotifierItem";
constexpr const char* kMenuPath = "/StatusNotifierItem/Menu";
constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
constexpr const char* kWatcherInterface = "org.kde.StatusNotifierWatcher";
constexpr const char* kLogRegistrationRefused = "Velmóra: icône de la zone de notification non inscrite: ";
// The bundle's icon, drawn at the sizes trays use most; a host scales the nearest one.
constexpr const char* kIconResource = "fr.velmora.universal-128.png";
constexpr int kPixmapSizes[] = {22, 32, 48, 64};

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <method name="ProvideXdgActivationToken">
      <arg name="token" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
</node>)xml";

using Handle = CallbackHandle<StatusNotifierItem>;

GDBusInterfaceInfo* interfaceInfo() {
    // Parsed once; the information lives as long as the process.
    static GDBusNodeInfo* const node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    return node ? node->interfaces[0] : nullptr;
}

// The name the protocol asks an item to take: unique to this process and item.
std::string itemBusName() {
    static std::atomic<int> items = 0;
    return "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-" + std::to_string(++items);
}

GVariant* pixmapsVariant(const std::vector<IconPixmap>& pixmaps) {
    GVariantBuilder images;
    g_variant_builder_init(&images, G_VARIANT_TYPE("a(iiay)"));
    for (const IconPixmap& pixmap : pixmaps)
        g_variant_builder_add(
            &images, "(ii@ay)", pixmap.width, pixmap.height,
            g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(), pixmap.argb.size(), 1));
    return g_variant_builder_end(&images);
}

// The image scaled to `size` pixels square, as ARGB32 in network byte order.
IconPixmap pixmapOf(GdkPixbuf* source, int size) {
    g_autoptr(GdkPixbuf) scaled = gdk_pixbuf_scale_simple(source, size, size, GDK_INTERP_BILINEAR);
    IconPixmap pixmap{size, size, {}};
    if (!scaled) return pixmap;
    const int channels = gdk_pixbuf_get_n_channels(scaled);
    const bool alpha = gdk_pixbuf_get_has_alpha(scaled);
    const int stride = gdk_pixbuf_get_rowstride(scaled);
    const guint8* pixels = gdk_pixbuf_read_pixels(scaled);
    pixmap.argb.reserve(static_cast<std::size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const guint8* pixel =
                pixels + (static_cast<std::ptrdiff_t>(y) * stride) + (static_cast<std::ptrdiff_t>(x) * channels);
            pixmap.argb.insert(pixmap.argb.end(), {alpha ? pixel[3] : guint8{0xff}, pixel[0], pixel[1], pixel[2]});
        }
    }
    return pixmap;
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(Context& context, GDBusConnection* connection, StatusNotifierIdentity identity,
                                       std::string title, std::function<void()> activated, platform::Log& log)
    : context_(context),
      connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr),
      identity_(std::move(identity)),
      title_(std::move(title)),
      activated_(std::move(activated)),
      log_(log),
      busName_(itemBusName()),
      menu_(connection_, kMenuPath),
      self_(std::make_shared<StatusNotifierItem*>(this)) {
    if (!connection_ || !interfaceInfo()) return;
    static const GDBusInterfaceVTable vtable = {
        &StatusNotifierItem::onMethodCall, &StatusNotifierItem::onGetProperty, nullptr, {}};
    registration_ = g_dbus_connection_register_object(connection_, kItemPath, interfaceInfo(), &vtable,
                                                      Handle::make(self_), Handle::release, nullptr);
    // The watcher is told of the item once both its name and a watcher are there, whichever
    // comes last.
    nameOwnership_ = g_bus_own_name_on_connection(connection_, busName_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                                                  &StatusNotifierItem::onNameAcquired, nullptr, Handle::make(self_),
                                                  Handle::release);
    watcherWatch_ = g_bus_watch_name_on_connection(
        connection_, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE, &StatusNotifierItem::onWatcherAppeared,
        &StatusNotifierItem::onWatcherVanished, Handle::make(self_), Handle::release);
}

// Leaving the bus name is what tells the watcher, and through it the hosts, that the item is gone.
StatusNotifierItem::~StatusNotifierItem() {
    self_.reset();
    if (watcherWatch_ != 0) g_bus_unwatch_name(watcherWatch_);
    if (nameOwnership_ != 0) g_bus_unown_name(nameOwnership_);
    if (registration_ != 0) g_dbus_connection_unregister_object(connection_, registration_);
    if (connection_) g_object_unref(connection_);
}

void StatusNotifierItem::setToolTip(const std::string& title, const std::string& text) {
    if (title == toolTipTitle_ && text == toolTipText_) return;
    toolTipTitle_ = title;
    toolTipText_ = text;
    if (registration_)
        g_dbus_connection_emit_signal(connection_, nullptr, kItemPath, kInterface, "NewToolTip", nullptr, nullptr);
}

void StatusNotifierItem::onNameAcquired(GDBusConnection* /*connection*/, const char* /*name*/, gpointer data) {
    StatusNotifierItem* item = Handle::of(data);
    if (!item) return;
    item->nameOwned_ = true;
    item->registerWithWatcher();
}

// GLib reports a new owner of the watcher's name as the old one vanishing and the new one
// appearing: a watcher that restarts hears of the item again.
void StatusNotifierItem::onWatcherAppeared(GDBusConnection* /*connection*/, const char* /*name*/, const char* owner,
                                           gpointer data) {
    StatusNotifierItem* item = Handle::of(data);
    if (!item) return;
    item->watcher_ = owner;
    item->registerWithWatcher();
}

void StatusNotifierItem::onWatcherVanished(GDBusConnection* /*connection*/, const char* /*name*/, gpointer data) {
    if (StatusNotifierItem* item = Handle::of(data)) item->watcher_.clear();
}

void StatusNotifierItem::registerWithWatcher() {
    if (!nameOwned_ || watcher_.empty()) return;
    // Sent to the owner that was seen: should it have gone meanwhile, its successor is told anew.
    g_dbus_connection_call(
        connection_, watcher_.c_str(), kWatcherPath, kWatcherInterface, "RegisterStatusNotifierItem",
        g_variant_new("(s)", busName_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            StatusNotifierItem* item = Handle::of(data);
            Handle::release(data);
            g_autoptr(GError) error = nullptr;
            g_autoptr(GVariant) reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            // A watcher that left before it answered is no refusal: the next one is told.
            if (!item || reply || g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
                g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
                return;
            g_dbus_error_strip_remote_error(error);
            item->log_.write(kLogRegistrationRefused + std::string(error->message));
        },
        Handle::make(self_));
}

void StatusNotifierItem::onMethodCall(GDBusConnection* /*connection*/, const char* /*sender*/, const char* /*path*/,
                                      const char* /*interface*/, const char* method, GVariant* parameters,
                                      GDBusMethodInvocation* invocation, gpointer data) {
    StatusNotifierItem* item = Handle::of(data);
    if (!item) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT, "Icône retirée");
        return;
    }
    item->handle(method, parameters, invocation);
}

void StatusNotifierItem::handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    // Answered first: what an activation does may take a while, or end in a dialog.
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (method == "Activate") {
        if (activated_) activated_();
    } else if (method == "ProvideXdgActivationToken") {
        // A host on Wayland hands over the right to raise a window just before it activates.
        const char* token = nullptr;
        g_variant_get(parameters, "(&s)", &token);
        if (context_.mainWindow && token && *token) gtk_window_set_startup_id(context_.mainWindow, token);
    }
    // The menu is the item's own (ItemIsMenu is false, Menu is set): hosts draw it themselves,
    // so ContextMenu, the middle click and the wheel need nothing here.
}

GVariant* StatusNotifierItem::onGetProperty(GDBusConnection* /*connection*/, const char* /*sender*/,
                                            const char* /*path*/, const char* /*interface*/, const char* property,
                                            GError** error, gpointer data) {
    StatusNotifierItem* item = Handle::of(data);
    if (!item) {
        g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT, "Icône retirée");
        return nullptr;
    }
    return item->property(property);
}

GVariant* StatusNotifierItem::property(const std::string& name) const {
    if (name == "Category") return g_variant_new_string("ApplicationStatus");
    if (name == "Id") return g_variant_new_string(identity_.id.c_str());
    if (name == "Title") return g_variant_new_string(title_.c_str());
    if (name == "Status") return g_variant_new_string("Active");
    if (name == "WindowId") return g_variant_new_int32(0);
    if (name == "IconThemePath") return g_variant_new_string(identity_.iconThemePath.c_str());
    if (name == "IconName") return g_variant_new_string(identity_.iconName.c_str());
    if (name == "IconPixmap") return pixmapsVariant(identity_.pixmaps);
    if (name == "ToolTip") return toolTip();
    if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
    if (name == "Menu") return g_variant_new_object_path(menu_.path().c_str());
    if (name.ends_with("Pixmap")) return pixmapsVariant({});
    // No overlay, no attention icon or movie.
    return g_variant_new_string("");
}

// Hosts may read the text as markup (KDE does): it is escaped, so that it shows as written.
GVariant* StatusNotifierItem::toolTip() const {
    g_autofree char* text = g_markup_escape_text(toolTipText_.c_str(), -1);
    return g_variant_new("(s@a(iiay)ss)", identity_.iconName.c_str(), pixmapsVariant({}), toolTipTitle_.c_str(), text);
}

StatusNotifierItems::StatusNotifierItems(Context& context, GDBusConnection* connection, const AppBundle& bundle,
                                         platform::Log& log)
    : context_(context),
      connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr),
      identity_(identityOf(bundle)),
      log_(log) {}

StatusNotifierItems::~StatusNotifierItems() {
    if (connection_) g_object_unref(connection_);
}

std::unique_ptr<platform::StatusItem> StatusNotifierItems::makeStatusItem(const std::string& title,
                                                                          std::function<void()> activated) {
    return std::make_unique<StatusNotifierItem>(context_, connection_, identity_, title, std::move(activated), log_);
}

StatusNotifierIdentity StatusNotifierItems::identityOf(const AppBundle& bundle) {
    StatusNotifierIdentity identity{VELMORA_BUNDLE_ID, VELMORA_BUNDLE_ID, {}, {}};
    if (bundle.bundlePath().empty()) return identity;
    // The icon is in the theme once the package or the application's entry has put it there,
    // but a host may look in another theme, or before it is there: the bundle's resources hold
    // the icon file under the same name, and its pixels go along for hosts that look in neither.
    g_autofree char* resources = g_path_get_dirname(bundle.resourcePath(kIconResource).c_str());
    identity.iconThemePath = resources;
    g_autoptr(GdkPixbuf) source = gdk_pixbuf_new_from_file(bundle.resourcePath(kIconResource).c_str(), nullptr);
    if (source)
        for (const int size : kPixmapSizes) identity.pixmaps.push_back(pixmapOf(source, size));
    return identity;
}

}  // namespace gtk
