// One inbox poll of a thousand entries with a full seen list, in process: the conversion of
// the page's answer into JsValue, as the adapter does it, and the
// controller's handling of that snapshot (clearing and the selection pass) on the fakes, and
// once more with the key-file defaults that save the seen list to disk.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <jsc/jsc.h>

#include <memory>
#include <string>
#include <utility>

#include "app/velmora.h"
#include "bench/inbox_workload.h"
#include "platform/gtk/js_convert.h"
#include "platform/gtk/keyfile_defaults.h"
#include "tests/fakes/fake_platform.h"

namespace {

constexpr const char* kSeenKey = "velmoraSharedNotificationSeen";
constexpr const char* kKnownHostsKey = "velmoraKnownHosts";

// The snapshot as JavaScriptCore holds it when the poll script's promise resolves.
struct PageAnswer {
    PageAnswer() : context(jsc_context_new()), value(jsc_value_new_from_json(context, bench::snapshotJson().c_str())) {}
    ~PageAnswer() {
        g_object_unref(value);
        g_object_unref(context);
    }
    PageAnswer(const PageAnswer&) = delete;
    PageAnswer& operator=(const PageAnswer&) = delete;
    JSCContext* context;
    JSCValue* value;
};

// What the adapter does with the poll's answer: the page sends it as JSON text, read once.
void SnapshotConversion(benchmark::State& state) {
    const std::string json = bench::snapshotJson();
    for (auto _ : state) benchmark::DoNotOptimize(gtk::fromJsonText(json));
}
BENCHMARK(SnapshotConversion)->Unit(benchmark::kMillisecond);

// For scale, the same answer taken value by value from JavaScriptCore, as it would be had the
// page sent the object itself.
void SnapshotConversionFromJavaScriptCore(benchmark::State& state) {
    PageAnswer answer;
    for (auto _ : state) benchmark::DoNotOptimize(gtk::toJsValue(answer.value));
}
BENCHMARK(SnapshotConversionFromJavaScriptCore)->Unit(benchmark::kMillisecond);

// A launched controller on the console of the benchmark's instance, with the fakes' defaults
// or the ones given.
struct Console {
    explicit Console(platform::UserDefaults* defaults = nullptr)
        : platform{fake.application, fake.timers,       fake.clock,     defaults ? *defaults : fake.defaults,
                   fake.bundle,      fake.files,        fake.processes, fake.systemLog,
                   fake.workspace,   fake.loginItems,   fake.appEntry,  fake.notifications,
                   fake.updaters,    fake.views,        fake.panels,    fake.printing,
                   fake.statusItems, fake.launcherEntry},
          controller(platform, velmora::BuildConstants{"velmora.fr"}, {"Velmora"}) {
        fake.clock.set(bench::kNowSeconds);
        platform.defaults.setStringArray(kKnownHostsKey, {bench::kInstanceHost});
        controller.applicationWillFinishLaunching();
        controller.applicationDidFinishLaunching();
        // The start page has loaded: no poll runs while a load is pending.
        controller.didFinishNavigation();
        fake.views.web->showPage(std::string("https://") + bench::kInstanceHost + "/admin");
    }

    // One poll, answered with `snapshot`; only the controller's work is timed.
    void poll(benchmark::State& state, const foundation::JsValue& snapshot) {
        state.PauseTiming();
        platform::ScriptResult answer = snapshot;
        fake.log.clear();
        state.ResumeTiming();
        controller.pollNativeNotifications();
        auto pending = std::move(fake.views.web->scripts.front());
        fake.views.web->scripts.clear();
        pending.done(std::move(answer));
    }

    fakes::FakePlatform fake;
    platform::Platform platform;
    velmora::Velmora controller;
};

foundation::JsValue snapshot() { return gtk::fromJsonText(bench::snapshotJson()); }

// The steady state: every entry seen before, the seen list at its limit.
void PollHandlingOnFakes(benchmark::State& state) {
    const foundation::JsValue answer = snapshot();
    Console console;
    console.fake.defaults.values[kSeenKey] = bench::fullSeenList();
    for (auto _ : state) console.poll(state, answer);
    state.counters["announced"] = static_cast<double>(console.fake.notifications.added.size());
}
BENCHMARK(PollHandlingOnFakes)->Unit(benchmark::kMillisecond);

// The same with the adapter's key-file defaults, which write the seen list to disk at
// every poll (to a temporary folder here).
void PollHandlingWithKeyFileDefaults(benchmark::State& state) {
    const foundation::JsValue answer = snapshot();
    g_autofree char* folder = g_dir_make_tmp("velmora-bench-XXXXXX", nullptr);
    g_autofree char* path = g_build_filename(folder, "defaults.ini", nullptr);
    {
        fakes::FakeLog log;
        gtk::KeyFileDefaults defaults(path, log);
        defaults.setStringArray(kSeenKey, bench::fullSeenList());
        Console console(&defaults);
        for (auto _ : state) console.poll(state, answer);
    }
    g_remove(path);
    g_rmdir(folder);
}
BENCHMARK(PollHandlingWithKeyFileDefaults)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
