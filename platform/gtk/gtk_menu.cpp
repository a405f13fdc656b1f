#include "platform/gtk/gtk_menu.h"

#include <string_view>

namespace gtk {

namespace {

// Application action names cannot contain ":"; "copy:" becomes "app.copy".
std::string actionName(std::string_view selector) {
    std::string name(selector);
    std::erase(name, ':');
    return name;
}

// The editing selectors go to the focused widget: the web view, or a text field of a dialog.
void performEditingCommand(Context& context, const std::string& selector) {
    GtkWindow* window = context.application ? gtk_application_get_active_window(context.application) : nullptr;
    GtkWidget* focus = window ? gtk_window_get_focus(window) : nullptr;
    const bool inWebView =
        context.webView && focus &&
        (focus == GTK_WIDGET(context.webView) || gtk_widget_is_ancestor(focus, GTK_WIDGET(context.webView)));
    if (inWebView || !focus) {
        if (!context.webView) return;
        const char* command = selector == "undo:"        ? WEBKIT_EDITING_COMMAND_UNDO
                              : selector == "cut:"       ? WEBKIT_EDITING_COMMAND_CUT
                              : selector == "copy:"      ? WEBKIT_EDITING_COMMAND_COPY
                              : selector == "paste:"     ? WEBKIT_EDITING_COMMAND_PASTE
                              : selector == "selectAll:" ? WEBKIT_EDITING_COMMAND_SELECT_ALL
                                                         : nullptr;
        if (command) webkit_web_view_execute_editing_command(context.webView, command);
        return;
    }
    const char* action = selector == "undo:"        ? "text.undo"
                         : selector == "cut:"       ? "clipboard.cut"
                         : selector == "copy:"      ? "clipboard.copy"
                         : selector == "paste:"     ? "clipboard.paste"
                         : selector == "selectAll:" ? "selection.select-all"
                                                    : nullptr;
    if (action) gtk_widget_activate_action(focus, action, nullptr);
}

}  // namespace

// An item is an entry of a section plus, when it has an action, an application action.
// GMenu items cannot be changed in place: a new title replaces the entry at its index.
class GtkMenuItemAdapter final : public platform::MenuItem {
public:
    GtkMenuItemAdapter(Context& context, GMenu* section, int index, platform::MenuCommand command,
                       std::function<void()> handler)
        : context_(context),
          section_(section),
          index_(index),
          command_(std::move(command)),
          handler_(std::move(handler)) {
        if (!command_.action.empty()) installAction();
        insertEntry();
    }
    ~GtkMenuItemAdapter() override {
        if (action_) g_object_unref(action_);
    }
    GtkMenuItemAdapter(const GtkMenuItemAdapter&) = delete;
    GtkMenuItemAdapter& operator=(const GtkMenuItemAdapter&) = delete;

    void setTitle(const std::string& title) override {
        if (title == command_.title) return;
        command_.title = title;
        g_menu_remove(section_, index_);
        insertEntry();
    }
    std::string title() const override { return command_.title; }
    void setChecked(bool checked) override {
        if (!action_) return;
        if (!checkable_) {
            // The first check state turns the action stateful; GTK then draws a check mark.
            // Actions cannot gain a state later, so the action is replaced by a stateful one.
            g_action_map_remove_action(G_ACTION_MAP(context_.application), actionName(command_.action).c_str());
            g_object_unref(action_);
            action_ = nullptr;
            checkable_ = true;
            installAction(checked);
            return;
        }
        g_simple_action_set_state(action_, g_variant_new_boolean(checked));
    }

private:
    // The section copies the item's attributes; our reference goes right away.
    void insertEntry() const {
        GMenuItem* item = makeItem();
        g_menu_insert_item(section_, index_, item);
        g_object_unref(item);
    }

    GMenuItem* makeItem() const {
        const std::string detailed = command_.action.empty() ? std::string() : "app." + actionName(command_.action);
        GMenuItem* item = g_menu_item_new(command_.title.c_str(), detailed.empty() ? nullptr : detailed.c_str());
        if (!command_.keyEquivalent.empty())
            g_menu_item_set_attribute(item, "accel", "s", ("<Control>" + command_.keyEquivalent).c_str());
        return item;
    }

    void installAction(bool checked = false) {
        const std::string name = actionName(command_.action);
        action_ = checkable_ ? g_simple_action_new_stateful(name.c_str(), nullptr, g_variant_new_boolean(checked))
                             : g_simple_action_new(name.c_str(), nullptr);
        g_signal_connect(action_, "activate", G_CALLBACK(onActivate), this);
        g_action_map_add_action(G_ACTION_MAP(context_.application), G_ACTION(action_));
        if (!command_.keyEquivalent.empty()) {
            const std::string accel = "<Control>" + command_.keyEquivalent;
            const char* accels[] = {accel.c_str(), nullptr};
            gtk_application_set_accels_for_action(context_.application, ("app." + name).c_str(), accels);
        }
    }

    static void onActivate(GSimpleAction*, GVariant*, gpointer data) {
        auto* self = static_cast<GtkMenuItemAdapter*>(data);
        if (self->handler_)
            self->handler_();
        else
            performEditingCommand(self->context_, self->command_.action);
    }

    Context& context_;
    GMenu* section_;
    int index_;
    platform::MenuCommand command_;
    std::function<void()> handler_;
    GSimpleAction* action_ = nullptr;
    bool checkable_ = false;
};

GtkMenuAdapter::GtkMenuAdapter(Context& context) : context_(context), menu_(g_menu_new()) {}

GtkMenuAdapter::~GtkMenuAdapter() { g_object_unref(menu_); }

std::shared_ptr<platform::MenuItem> GtkMenuAdapter::addItem(const platform::MenuCommand& command,
                                                            std::function<void()> handler) {
    if (!section_) addSeparator();
    const int index = g_menu_model_get_n_items(G_MENU_MODEL(section_));
    auto item = std::make_shared<GtkMenuItemAdapter>(context_, section_, index, command, std::move(handler));
    items_.push_back(item);
    return item;
}

void GtkMenuAdapter::addSeparator() {
    GMenu* section = g_menu_new();
    g_menu_append_section(menu_, nullptr, G_MENU_MODEL(section));
    section_ = section;
    g_object_unref(section);  // menu_ keeps it
}

platform::Menu& GtkMenuAdapter::addSubmenu(const std::string& title) {
    auto submenu = std::make_unique<GtkMenuAdapter>(context_);
    g_menu_append_submenu(menu_, title.c_str(), submenu->model());
    submenus_.push_back(std::move(submenu));
    return *submenus_.back();
}

}  // namespace gtk
