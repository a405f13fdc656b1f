#include "platform/gtk/dbus_menu.h"

#include <algorithm>
#include <utility>

#include "platform/gtk/callback_handle.h"

namespace gtk {

namespace {

constexpr const char* kInterface = "com.canonical.dbusmenu";
constexpr const char* kIntrospection = R"xml(<node>
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg name="parentId" type="i" direction="in"/>
      <arg name="recursionDepth" type="i" direction="in"/>
      <arg name="propertyNames" type="as" direction="in"/>
      <arg name="revision" type="u" direction="out"/>
      <arg name="layout" type="(ia{sv}av)" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg name="ids" type="ai" direction="in"/>
      <arg name="propertyNames" type="as" direction="in"/>
      <arg name="properties" type="a(ia{sv})" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg name="id" type="i" direction="in"/>
      <arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="Event">
      <arg name="id" type="i" direction="in"/>
      <arg name="eventId" type="s" direction="in"/>
      <arg name="data" type="v" direction="in"/>
      <arg name="timestamp" type="u" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg name="events" type="a(isvu)" direction="in"/>
      <arg name="idErrors" type="ai" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg name="id" type="i" direction="in"/>
      <arg name="needUpdate" type="b" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg name="ids" type="ai" direction="in"/>
      <arg name="updatesNeeded" type="ai" direction="out"/>
      <arg name="idErrors" type="ai" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg name="updatedProps" type="a(ia{sv})"/>
      <arg name="removedProps" type="a(ias)"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg name="revision" type="u"/>
      <arg name="parent" type="i"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg name="id" type="i"/>
      <arg name="timestamp" type="u"/>
    </signal>
  </interface>
</node>)xml";

// The protocol's version whose properties and signals are served here.
constexpr guint32 kProtocolVersion = 3;

using Handle = CallbackHandle<DBusMenu>;

GDBusInterfaceInfo* interfaceInfo() {
    // Parsed once; the information lives as long as the process.
    static GDBusNodeInfo* const node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    return node ? node->interfaces[0] : nullptr;
}

// Hosts read an underscore as the mark of the next letter's mnemonic; a title's own underscore
// is written twice.
std::string labelOf(const std::string& title) {
    std::string label;
    for (const char c : title) {
        label += c;
        if (c == '_') label += '_';
    }
    return label;
}

std::vector<std::string> stringsOf(GVariant* array) {
    std::vector<std::string> strings;
    GVariantIter iter;
    g_variant_iter_init(&iter, array);
    const char* text = nullptr;
    while (g_variant_iter_next(&iter, "&s", &text)) strings.emplace_back(text);
    return strings;
}

std::vector<int> idsOf(GVariant* array) {
    std::vector<int> ids;
    GVariantIter iter;
    g_variant_iter_init(&iter, array);
    gint32 id = 0;
    while (g_variant_iter_next(&iter, "i", &id)) ids.push_back(id);
    return ids;
}

void returnUnknownItem(GDBusMethodInvocation* invocation, int id) {
    g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                          "Aucun élément de menu %d", id);
}

}  // namespace

// An item as the controller holds it; it may outlive the menu, and then changes nothing.
class DBusMenu::Item final : public platform::MenuItem {
public:
    Item(std::weak_ptr<DBusMenu*> menu, int id, std::string title)
        : menu_(std::move(menu)), id_(id), title_(std::move(title)) {}
    void setTitle(const std::string& title) override {
        title_ = title;
        if (const auto menu = menu_.lock()) (*menu)->retitle(id_, title);
    }
    std::string title() const override { return title_; }
    void setChecked(bool checked) override {
        if (const auto menu = menu_.lock()) (*menu)->check(id_, checked);
    }

private:
    std::weak_ptr<DBusMenu*> menu_;
    int id_;
    std::string title_;
};

// A submenu: appends to its own item of the tree. The menu owns it.
class DBusMenu::Branch final : public platform::Menu {
public:
    Branch(DBusMenu& menu, int id) : menu_(menu), id_(id) {}
    std::shared_ptr<platform::MenuItem> addItem(const platform::MenuCommand& command,
                                                std::function<void()> handler) override {
        Node node;
        node.title = command.title;
        node.keyEquivalent = command.keyEquivalent;
        node.handler = std::move(handler);
        const int id = menu_.append(id_, std::move(node));
        return std::make_shared<Item>(menu_.self_, id, command.title);
    }
    void addSeparator() override {
        Node node;
        node.separator = true;
        menu_.append(id_, std::move(node));
    }
    platform::Menu& addSubmenu(const std::string& title) override {
        Node node;
        node.title = title;
        node.submenu = true;
        const int id = menu_.append(id_, std::move(node));
        return *menu_.submenus_.emplace_back(std::make_unique<Branch>(menu_, id));
    }

private:
    DBusMenu& menu_;
    int id_;
};

DBusMenu::DBusMenu(GDBusConnection* connection, std::string path)
    : connection_(connection ? G_DBUS_CONNECTION(g_object_ref(connection)) : nullptr),
      path_(std::move(path)),
      self_(std::make_shared<DBusMenu*>(this)) {
    nodes_[0].submenu = true;
    submenus_.push_back(std::make_unique<Branch>(*this, 0));
    if (!connection_ || !interfaceInfo()) return;
    static const GDBusInterfaceVTable vtable = {&DBusMenu::onMethodCall, &DBusMenu::onGetProperty, nullptr, {}};
    registration_ = g_dbus_connection_register_object(connection_, path_.c_str(), interfaceInfo(), &vtable,
                                                      Handle::make(self_), Handle::release, nullptr);
}

DBusMenu::~DBusMenu() {
    self_.reset();
    if (layoutIdle_ != 0) g_source_remove(layoutIdle_);
    if (registration_ != 0) g_dbus_connection_unregister_object(connection_, registration_);
    if (connection_) g_object_unref(connection_);
}

std::shared_ptr<platform::MenuItem> DBusMenu::addItem(const platform::MenuCommand& command,
                                                      std::function<void()> handler) {
    return submenus_.front()->addItem(command, std::move(handler));
}

void DBusMenu::addSeparator() { submenus_.front()->addSeparator(); }

platform::Menu& DBusMenu::addSubmenu(const std::string& title) { return submenus_.front()->addSubmenu(title); }

int DBusMenu::append(int parent, Node node) {
    const int id = nextId_++;
    node.parent = parent;
    nodes_[parent].children.push_back(id);
    nodes_[id] = std::move(node);
    layoutChanged();
    return id;
}

void DBusMenu::retitle(int id, const std::string& title) {
    const auto found = nodes_.find(id);
    if (found == nodes_.end() || found->second.title == title) return;
    found->second.title = title;
    propertiesChanged(id);
}

void DBusMenu::check(int id, bool checked) {
    const auto found = nodes_.find(id);
    if (found == nodes_.end() || found->second.checked == checked) return;
    found->second.checked = checked;
    propertiesChanged(id);
}

// A menu is built item by item: the hosts hear of it once the building is done.
void DBusMenu::layoutChanged() {
    ++revision_;
    if (layoutIdle_ != 0 || !registration_) return;
    layoutIdle_ = g_idle_add_full(
        G_PRIORITY_DEFAULT_IDLE,
        [](gpointer data) -> gboolean {
            if (DBusMenu* menu = Handle::of(data)) {
                menu->layoutIdle_ = 0;
                menu->emitLayoutUpdated();
            }
            return G_SOURCE_REMOVE;
        },
        Handle::make(self_), Handle::release);
}

void DBusMenu::emitLayoutUpdated() {
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface, "LayoutUpdated",
                                  g_variant_new("(ui)", revision_, 0), nullptr);
}

void DBusMenu::propertiesChanged(int id) {
    if (!registration_) return;
    GVariantBuilder updated;
    g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
    g_variant_builder_add(&updated, "(i@a{sv})", id, properties(id, {}));
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface, "ItemsPropertiesUpdated",
                                  g_variant_new("(a(ia{sv})a(ias))", &updated, nullptr), nullptr);
}

void DBusMenu::onMethodCall(GDBusConnection* /*connection*/, const char* /*sender*/, const char* /*path*/,
                            const char* /*interface*/, const char* method, GVariant* parameters,
                            GDBusMethodInvocation* invocation, gpointer data) {
    DBusMenu* menu = Handle::of(data);
    if (!menu) {
        g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT, "Menu fermé");
        return;
    }
    menu->handle(method, parameters, invocation);
}

GVariant* DBusMenu::onGetProperty(GDBusConnection* /*connection*/, const char* /*sender*/, const char* /*path*/,
                                  const char* /*interface*/, const char* property, GError** /*error*/,
                                  gpointer /*data*/) {
    const std::string name(property);
    if (name == "Version") return g_variant_new_uint32(kProtocolVersion);
    if (name == "TextDirection") return g_variant_new_string("ltr");
    if (name == "Status") return g_variant_new_string("normal");
    return g_variant_new_strv(nullptr, 0);  // IconThemePath: no icons in the menu
}

void DBusMenu::handle(const std::string& method, GVariant* parameters, GDBusMethodInvocation* invocation) {
    if (method == "GetLayout") {
        gint32 parent = 0, depth = 0;
        g_autoptr(GVariant) names = nullptr;
        g_variant_get(parameters, "(ii@as)", &parent, &depth, &names);
        if (!nodes_.contains(parent)) return returnUnknownItem(invocation, parent);
        g_dbus_method_invocation_return_value(
            invocation, g_variant_new("(u@(ia{sv}av))", revision_, layout(parent, depth, stringsOf(names))));
    } else if (method == "GetGroupProperties") {
        g_autoptr(GVariant) ids = nullptr;
        g_autoptr(GVariant) names = nullptr;
        g_variant_get(parameters, "(@ai@as)", &ids, &names);
        // No ids asks for every item; ids the menu does not have are left out.
        std::vector<int> wanted = idsOf(ids);
        if (wanted.empty())
            for (const auto& [id, node] : nodes_) wanted.push_back(id);
        const std::vector<std::string> filter = stringsOf(names);
        GVariantBuilder found;
        g_variant_builder_init(&found, G_VARIANT_TYPE("a(ia{sv})"));
        for (const int id : wanted)
            if (nodes_.contains(id)) g_variant_builder_add(&found, "(i@a{sv})", id, properties(id, filter));
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &found));
    } else if (method == "GetProperty") {
        gint32 id = 0;
        const char* name = nullptr;
        g_variant_get(parameters, "(i&s)", &id, &name);
        if (!nodes_.contains(id)) return returnUnknownItem(invocation, id);
        g_autoptr(GVariant) all = properties(id, {name});
        g_autoptr(GVariant) value = g_variant_lookup_value(all, name, nullptr);
        if (!value)
            return g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                                         "Aucune propriété « %s »", name);
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    } else if (method == "Event") {
        gint32 id = 0;
        const char* kind = nullptr;
        g_variant_get(parameters, "(i&svu)", &id, &kind, nullptr, nullptr);
        if (!nodes_.contains(id)) return returnUnknownItem(invocation, id);
        // Answered first: what the item does may end the process.
        g_dbus_method_invocation_return_value(invocation, nullptr);
        event(id, kind);
    } else if (method == "EventGroup") {
        g_autoptr(GVariantIter) events = nullptr;
        g_variant_get(parameters, "(a(isvu))", &events);
        std::vector<std::pair<int, std::string>> known;
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        gint32 id = 0;
        const char* kind = nullptr;
        bool anyError = false;
        while (g_variant_iter_next(events, "(i&svu)", &id, &kind, nullptr, nullptr)) {
            if (nodes_.contains(id)) {
                known.emplace_back(id, kind);
            } else {
                g_variant_builder_add(&errors, "i", id);
                anyError = true;
            }
        }
        if (known.empty() && anyError) {
            g_variant_builder_clear(&errors);
            return g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_INVALID_ARGS,
                                                         "Aucun des éléments de menu demandés");
        }
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
        for (const auto& [item, what] : known) event(item, what);
    } else if (method == "AboutToShow") {
        gint32 id = 0;
        g_variant_get(parameters, "(i)", &id);
        if (!nodes_.contains(id)) return returnUnknownItem(invocation, id);
        // The tree is always up to date: nothing is built on demand.
        g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
    } else if (method == "AboutToShowGroup") {
        g_autoptr(GVariant) ids = nullptr;
        g_variant_get(parameters, "(@ai)", &ids);
        GVariantBuilder errors;
        g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
        for (const int id : idsOf(ids))
            if (!nodes_.contains(id)) g_variant_builder_add(&errors, "i", id);
        g_dbus_method_invocation_return_value(invocation,
                                              g_variant_new("(@aiai)", g_variant_new("ai", nullptr), &errors));
    }
}

// An item and its children down to `depth` levels (-1: all), as GetLayout gives them.
GVariant* DBusMenu::layout(int id, int depth, const std::vector<std::string>& names) const {
    const Node& node = nodes_.at(id);
    GVariantBuilder children;
    g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
    if (depth != 0)
        for (const int child : node.children)
            g_variant_builder_add(&children, "v", layout(child, depth < 0 ? depth : depth - 1, names));
    return g_variant_new("(i@a{sv}av)", id, properties(id, names), &children);
}

// The item's properties that differ from the protocol's defaults, only those named when
// `names` is not empty.
GVariant* DBusMenu::properties(int id, const std::vector<std::string>& names) const {
    const Node& node = nodes_.at(id);
    GVariantBuilder all;
    g_variant_builder_init(&all, G_VARIANT_TYPE("a{sv}"));
    const auto add = [&](const char* name, GVariant* value) {
        if (names.empty() || std::ranges::find(names, name) != names.end()) {
            g_variant_builder_add(&all, "{sv}", name, value);
        } else {
            g_variant_unref(g_variant_ref_sink(value));
        }
    };
    if (node.separator) {
        add("type", g_variant_new_string("separator"));
        return g_variant_builder_end(&all);
    }
    if (id != 0) add("label", g_variant_new_string(labelOf(node.title).c_str()));
    if (node.submenu) add("children-display", g_variant_new_string("submenu"));
    if (!node.submenu && !node.handler) add("enabled", g_variant_new_boolean(FALSE));
    if (node.checked) {
        add("toggle-type", g_variant_new_string("checkmark"));
        add("toggle-state", g_variant_new_int32(*node.checked ? 1 : 0));
    }
    if (!node.keyEquivalent.empty()) {
        const char* shortcut[] = {"Control", node.keyEquivalent.c_str(), nullptr};
        GVariant* keys = g_variant_new_strv(shortcut, -1);
        add("shortcut", g_variant_new_array(G_VARIANT_TYPE("as"), &keys, 1));
    }
    return g_variant_builder_end(&all);
}

// Only a click on a sensitive item does something; hosts also report that a submenu opened
// or closed, and the like, which needs nothing here.
void DBusMenu::event(int id, const std::string& kind) {
    const Node& node = nodes_.at(id);
    if (kind != "clicked" || !node.handler) return;
    // A copy: the handler may change the menu it belongs to.
    const std::function<void()> handler = node.handler;
    handler();
}

}  // namespace gtk
