// A controller on fakes of its own, created and launched as the platform would do it. Every
// table row builds a Rig of its own, so that each row starts from a clean machine.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/velmora.h"
#include "tests/fakes/fake_platform.h"

namespace velmora::testing {

using foundation::JsValue;
using Calls = std::vector<std::string>;

inline constexpr const char* kPublicHost = "velmora.fr";
inline constexpr const char* kProgram = "/opt/velmora/Velmora.app/Contents/MacOS/Velmora";
inline constexpr const char* kConsole = "https://salon.example/admin";
inline constexpr const char* kSignIn = "https://velmora.fr/connexion.html";
inline constexpr const char* kSeenKey = "velmoraSharedNotificationSeen";
inline constexpr const char* kHelper = "/opt/velmora/Velmora.app/Contents/MacOS/VelmoraRelaunch";

// An information property list holding the dictionary entries `entries`.
inline std::string plist(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries + "</dict></plist>\n";
}
// The information property list as the bundle on disk carries it, with build number `build`.
inline std::string infoPlist(const std::string& build) {
    return plist(
        "<key>CFBundleIdentifier</key><string>fr.velmora.universal</string><key>CFBundleVersion</key><string>" + build +
        "</string>");
}

// An answer of the poll script for a signed-in administrator.
inline JsValue signedIn(JsValue::Array entries = {}, JsValue readIds = JsValue::Array{},
                        JsValue preferences = JsValue::Object{}) {
    return JsValue::Object{{"authenticated", true},
                           {"notifications", std::move(entries)},
                           {"readIds", std::move(readIds)},
                           {"preferences", std::move(preferences)}};
}

struct Rig {
    // Creates the controller; ancien.example is a retired instance in every rig.
    Velmora& create(const std::vector<std::string>& arguments = {kProgram}) {
        controller =
            std::make_unique<Velmora>(fake.platform, BuildConstants{kPublicHost, {"ancien.example"}}, arguments);
        fake.application.setDelegate(controller.get());
        return *controller;
    }
    // Creates the controller and runs both launch callbacks, as the application loop does.
    Velmora& launch(const std::vector<std::string>& arguments = {kProgram}) {
        create(arguments);
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
        return *controller;
    }
    // Launches with the instances salon, autre and ancien known, the page showing `page`
    // (nullopt: a page without URL).
    Velmora& console(const std::optional<std::string>& page = kConsole) {
        knownHosts({"salon.example", "autre.example", "ancien.example"});
        launch();
        // The start page finished loading; the user went on from there.
        controller->didFinishNavigation();
        web().currentUrl = page ? foundation::Url::parse(*page) : std::nullopt;
        return *controller;
    }
    // Puts the bundle's Contents/Info.plist on disk with these bytes (nullopt: unreadable).
    void installInfo(const std::optional<std::string>& info) {
        if (info)
            fake.files.contents["/opt/velmora/Velmora.app/Contents/Info.plist"] = {info->begin(), info->end()};
        else
            fake.files.contents.erase("/opt/velmora/Velmora.app/Contents/Info.plist");
    }
    void knownHosts(const std::vector<std::string>& hosts) { fake.defaults.values["velmoraKnownHosts"] = hosts; }

    fakes::FakeWebView& web() { return *fake.views.web; }
    fakes::FakeWindow& window() { return *fake.views.window; }
    fakes::FakeMenu& menu() { return *fake.application.mainMenu; }
    fakes::FakeMenuItem& item(const std::string& action) { return *menu().findAction(action); }
    std::string status() { return item("").title(); }

    // Answers the oldest poll script still in flight.
    void answer(const platform::ScriptResult& result) {
        ASSERT_FALSE(web().scripts.empty());
        auto done = std::move(web().scripts.front().done);
        web().scripts.erase(web().scripts.begin());
        done(result);
    }
    void poll(const platform::ScriptResult& result) {
        controller->pollNativeNotifications();
        answer(result);
    }
    // Puts a notification on screen whose user info url is `url`.
    void show(const std::string& identifier, const std::optional<std::string>& url = std::nullopt) {
        platform::NotificationRequest request;
        request.identifier = identifier;
        if (url) request.content.userInfo = {{"url", *url}};
        fake.notifications.shown.push_back(request);
    }
    Calls announced() const {
        Calls ids;
        for (const auto& request : fake.notifications.added) ids.push_back(request.identifier);
        return ids;
    }
    std::set<std::string> removed() const {
        std::set<std::string> ids;
        for (const auto& removal : fake.notifications.removals) ids.insert(removal.begin(), removal.end());
        return ids;
    }
    Calls seen() const { return fake.defaults.stringArray(kSeenKey).value_or(Calls{}); }

    fakes::FakePlatform fake;
    std::unique_ptr<Velmora> controller;
};

}  // namespace velmora::testing
