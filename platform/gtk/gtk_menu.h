// The menu port on GMenu models and application actions.
#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/gtk/context.h"
#include "platform/menu.h"

namespace gtk {

class GtkMenuItemAdapter;

// One menu of the menu bar. GMenu has no separator items: a separator starts a new
// section, which GTK draws with a line between sections.
class GtkMenuAdapter final : public platform::Menu {
public:
    explicit GtkMenuAdapter(Context& context);
    ~GtkMenuAdapter() override;
    GtkMenuAdapter(const GtkMenuAdapter&) = delete;
    GtkMenuAdapter& operator=(const GtkMenuAdapter&) = delete;

    // Menu overrides:
    std::shared_ptr<platform::MenuItem> addItem(const platform::MenuCommand& command,
                                                std::function<void()> handler) override;
    void addSeparator() override;
    platform::Menu& addSubmenu(const std::string& title) override;

    // The model of this menu, owned by it.
    GMenuModel* model() const { return G_MENU_MODEL(menu_); }

private:
    Context& context_;
    GMenu* menu_;
    GMenu* section_ = nullptr;  // the section items are appended to, inside menu_
    std::vector<std::unique_ptr<GtkMenuAdapter>> submenus_;
    std::vector<std::shared_ptr<GtkMenuItemAdapter>> items_;
};

}  // namespace gtk
