// One inbox poll of a thousand entries with a full seen list, in process: the conversion of
// the page's answer from JavaScriptCore into JsValue, as the adapter does it, and the
// controller's handling of that snapshot (clearing and the selection pass) on the fakes, and
// once more with the key-file defaults that save the seen list to disk.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <jsc/jsc.h>
#include <json-glib/json-glib.h>

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
    JSCContext* context;
    JSCValue* value;
};

void SnapshotConversion(benchmark::State& state) {
    PageAnswer answer;
    for (auto _ : state) benchmark::DoNotOptimize(gtk::toJsValue(answer.value));
}
BENCHMARK(SnapshotConversion)->Unit(benchmark::kMillisecond);

// Also parsing the JSON text in JavaScriptCore, for scale: the page's own share of the work.
void SnapshotParseAndConversion(benchmark::State& state) {
    JSCContext* context = jsc_context_new();
    const std::string json = bench::snapshotJson();
    for (auto _ : state) {
        JSCValue* value = jsc_value_new_from_json(context, json.c_str());
        benchmark::DoNotOptimize(gtk::toJsValue(value));
        g_object_unref(value);
    }
    g_object_unref(context);
}
BENCHMARK(SnapshotParseAndConversion)->Unit(benchmark::kMillisecond);

// A JSON node as the JsValue it stands for; integers become doubles as in JavaScript.
foundation::JsValue fromJsonNode(JsonNode* node) {
    switch (json_node_get_node_type(node)) {
        case JSON_NODE_OBJECT: {
            foundation::JsValue::Object object;
            JsonObjectIter iter;
            const char* name = nullptr;
            JsonNode* member = nullptr;
            json_object_iter_init(&iter, json_node_get_object(node));
            while (json_object_iter_next(&iter, &name, &member)) object.emplace(name, fromJsonNode(member));
            return object;
        }
        case JSON_NODE_ARRAY: {
            JsonArray* array = json_node_get_array(node);
            foundation::JsValue::Array elements;
            elements.reserve(json_array_get_length(array));
            for (guint i = 0; i < json_array_get_length(array); ++i)
                elements.push_back(fromJsonNode(json_array_get_element(array, i)));
            return elements;
        }
        case JSON_NODE_VALUE:
            switch (json_node_get_value_type(node)) {
                case G_TYPE_BOOLEAN:
                    return static_cast<bool>(json_node_get_boolean(node));
                case G_TYPE_STRING:
                    return std::string(json_node_get_string(node));
                default:
                    return json_node_get_double(node);
            }
        case JSON_NODE_NULL:
            break;
    }
    return {};
}

// Another way to the same JsValue, for comparison: JavaScriptCore writes the whole answer as
// JSON text in one call, and json-glib reads it, instead of one JavaScriptCore call per value.
void SnapshotThroughJsonText(benchmark::State& state) {
    PageAnswer answer;
    for (auto _ : state) {
        g_autofree char* json = jsc_value_to_json(answer.value, 0);
        g_autoptr(JsonParser) parser = json_parser_new_immutable();
        json_parser_load_from_data(parser, json, -1, nullptr);
        benchmark::DoNotOptimize(fromJsonNode(json_parser_get_root(parser)));
    }
}
BENCHMARK(SnapshotThroughJsonText)->Unit(benchmark::kMillisecond);

// A launched controller on the console of the benchmark's instance, with the fakes' defaults
// or the ones given.
struct Console {
    explicit Console(platform::UserDefaults* defaults = nullptr)
        : platform{fake.application, fake.timers,     fake.clock,         defaults ? *defaults : fake.defaults,
                   fake.bundle,      fake.files,      fake.processes,     fake.systemLog,
                   fake.workspace,   fake.loginItems, fake.notifications, fake.updaters,
                   fake.views,       fake.panels,     fake.printing},
          controller(platform, velmora::BuildConstants{"velmora.fr"}, {"Velmora"}) {
        fake.clock.set(bench::kNowSeconds);
        platform.defaults.setStringArray(kKnownHostsKey, {bench::kInstanceHost});
        controller.applicationWillFinishLaunching();
        controller.applicationDidFinishLaunching();
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

foundation::JsValue snapshot() {
    PageAnswer answer;
    return gtk::toJsValue(answer.value);
}

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
        gtk::KeyFileDefaults defaults(path);
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
