#include <string>
#include <vector>

#include "tests/unit/controller/controller_fixture.h"

namespace velmora::testing {
namespace {

struct Row {
    std::string title;  // "-" for a separator
    std::string action;
    std::string key;
};

std::vector<Row> rows(const fakes::FakeMenu& menu) {
    std::vector<Row> out;
    for (const auto& item : menu.items) {
        if (item->separator)
            out.push_back({"-", "", ""});
        else
            out.push_back({item->command.title, item->command.action, item->command.keyEquivalent});
    }
    return out;
}

void expectRows(const fakes::FakeMenu& menu, const std::vector<Row>& expected) {
    const auto actual = rows(menu);
    ASSERT_EQ(actual.size(), expected.size()) << menu.title;
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(menu.title + " item " + std::to_string(i + 1));
        EXPECT_EQ(actual[i].title, expected[i].title);
        EXPECT_EQ(actual[i].action, expected[i].action);
        EXPECT_EQ(actual[i].key, expected[i].key);
    }
}

TEST_F(ControllerTest, MainMenuHasExactlyTheThreeMenusAndTheirItems) {
    launch();
    ASSERT_EQ(menu().submenus.size(), 3u);
    EXPECT_TRUE(menu().items.empty());
    EXPECT_EQ(menu().submenus[0]->title, "Velmóra");
    EXPECT_EQ(menu().submenus[1]->title, "Édition");
    EXPECT_EQ(menu().submenus[2]->title, "Navigation");
    expectRows(*menu().submenus[0], {
                                        {"À propos d’Velmóra — version 1.4.2", "orderFrontStandardAboutPanel:", ""},
                                        {"-", "", ""},
                                        {"Rechercher les mises à jour…", "checkForUpdates:", ""},
                                        {"-", "", ""},
                                        {"Quitter Velmóra", "terminate:", "q"},
                                        {"Notifications : connexion nécessaire", "", ""},
                                        // Login start has already shown its real state.
                                        {"Démarrage automatique : activé", "toggleLoginStart", ""},
                                        {"Tester la notification Velmóra", "testNativeNotice", ""},
                                        {"Arrêter Velmóra et les notifications", "stopNativeService", ""},
                                    });
    EXPECT_TRUE(fake.log.has("menu.addItem(Démarrage automatique…)"));
    expectRows(*menu().submenus[1], {
                                        {"Annuler", "undo:", "z"},
                                        {"Couper", "cut:", "x"},
                                        {"Copier", "copy:", "c"},
                                        {"Coller", "paste:", "v"},
                                        {"Tout sélectionner", "selectAll:", "a"},
                                    });
    expectRows(*menu().submenus[2], {
                                        {"Changer d’espace", "changeSpace", ""},
                                        {"Actualiser", "reload", "r"},
                                        {"Ouvrir dans Safari", "safari", ""},
                                    });
}

TEST_F(ControllerTest, AboutTitleEndsWithTheShortVersionOnly) {
    fake.bundle.info.erase("CFBundleShortVersionString");
    launch();
    EXPECT_EQ(menu().submenus[0]->items[0]->command.title, "À propos d’Velmóra — version ");
}

TEST_F(ControllerTest, EditItemsAndTheStatusItemHaveNoHandler) {
    launch();
    for (const char* action : {"undo:", "cut:", "copy:", "paste:", "selectAll:"}) {
        SCOPED_TRACE(action);
        EXPECT_FALSE(item(action).handler);  // the platform sends them to the web view
    }
    EXPECT_FALSE(menu().submenus[0]->items[5]->handler);
}

TEST_F(ControllerTest, MenuItemsReachTheirTargets) {
    launch();
    fake.log.clear();
    menu().choose("checkForUpdates:");
    menu().choose("orderFrontStandardAboutPanel:");
    EXPECT_EQ(fake.log.calls, (std::vector<std::string>{"updater.checkForUpdates", "panels.showAboutPanel"}));
}

TEST_F(ControllerTest, WebViewGetsTheBridgeHandlersAndScriptsInOrder) {
    launch();
    const auto& configuration = web().configuration;
    EXPECT_TRUE(configuration.persistentDataStore);
    EXPECT_EQ(configuration.messageHandler, controller.get());
    EXPECT_EQ(configuration.messageHandlerNames,
              (std::vector<std::string>{"velmoraInstance", "velmoraPrint", "velmoraUpdate", "velmoraMailRead",
                                        "velmoraNoticeRead"}));
    ASSERT_EQ(configuration.userScripts.size(), 2u);
    EXPECT_EQ(configuration.userScripts[0].source,
              "Object.defineProperty(window,'velmoraDesktop',{value:Object.freeze({\"build\":\"41\",\"version\":"
              "\"1.4.2\"})});");
    EXPECT_EQ(configuration.userScripts[0].injectionTime, platform::UserScriptInjectionTime::DocumentStart);
    EXPECT_TRUE(configuration.userScripts[0].mainFrameOnly);
    EXPECT_EQ(configuration.userScripts[1].source,
              "window.print=()=>window.webkit.messageHandlers.velmoraPrint.postMessage('print')");
    EXPECT_EQ(configuration.userScripts[1].injectionTime, platform::UserScriptInjectionTime::DocumentEnd);
    EXPECT_TRUE(configuration.userScripts[1].mainFrameOnly);
}

TEST_F(ControllerTest, DesktopObjectEscapesTheVersionText) {
    fake.bundle.info["CFBundleShortVersionString"] = "1.0 \"beta\"</script>";
    fake.bundle.info.erase("CFBundleVersion");
    launch();
    EXPECT_EQ(web().configuration.userScripts[0].source,
              "Object.defineProperty(window,'velmoraDesktop',{value:Object.freeze({\"build\":\"\",\"version\":"
              "\"1.0 \\\"beta\\\"</script>\"})});");
}

TEST_F(ControllerTest, WindowIsTheWebViewsHomeAndSurvivesClosing) {
    launch();
    EXPECT_EQ(window().width, 1200);
    EXPECT_EQ(window().height, 820);
    EXPECT_EQ(window().title, "Velmóra");
    EXPECT_EQ(window().content, &web());
    EXPECT_FALSE(window().releasedWhenClosed);
}

TEST_F(ControllerTest, ReopenShowsTheWindowWithoutReloadingAFinishedPage) {
    launch({"Velmora", "--background"});
    controller->didFinishNavigation();  // the start page loaded while hidden
    fake.log.clear();
    EXPECT_TRUE(controller->applicationShouldHandleReopen(false));
    EXPECT_EQ(fake.log.calls, (std::vector<std::string>{"application.setActivationPolicy(regular)",
                                                        "window.makeKeyAndOrderFront", "application.activate"}));
}

}  // namespace
}  // namespace velmora::testing
