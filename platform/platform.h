// Every platform service the controller uses, handed to it in one bundle.
#pragma once

#include "platform/app_entry.h"
#include "platform/application.h"
#include "platform/bundle.h"
#include "platform/launcher_entry.h"
#include "platform/login_items.h"
#include "platform/notification_center.h"
#include "platform/panels.h"
#include "platform/printing.h"
#include "platform/status_item.h"
#include "platform/system.h"
#include "platform/timers.h"
#include "platform/updater.h"
#include "platform/user_defaults.h"
#include "platform/views.h"
#include "platform/workspace.h"

namespace platform {

// References to the services; they outlive the controller.
struct Platform {
    Application& application;
    Timers& timers;
    Clock& clock;
    UserDefaults& defaults;
    Bundle& bundle;
    Files& files;
    Processes& processes;
    Log& log;
    Workspace& workspace;
    LoginItems& loginItems;
    AppEntry& appEntry;
    NotificationCenter& notifications;
    UpdaterFactory& updaters;
    Views& views;
    Panels& panels;
    Printing& printing;
    StatusItems& statusItems;
    LauncherEntry& launcherEntry;
};

}  // namespace platform
