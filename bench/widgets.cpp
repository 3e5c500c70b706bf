// The widget plug-in's costs against their floors, in one run: one timeline entry from the shared
// files against reading the same two files raw (also over the realistic data at 1x, 10x and 100x,
// for the first entry of a reload burst and for a further one, with the heap a further held entry
// adds), and one large widget drawn into an image against an empty widget of the same size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <fstream>
#include <iterator>
#include <malloc.h>
#include <map>

#include "bench/pairs.h"
#include "bench/ratio.h"
#include "model/wire.h"
#include "storage/file_io.h"
#include "storage/snapshot_store.h"
#include "storage/widget_preferences.h"
#include "support/temp_dir.h"
#include "tools/sample-gateway/sample_data.h"
#include "widgets/provider.h"
#include "widgets/selection_suite.h"
#include "widgets/widget_content.h"

using namespace tessel;

namespace {

// What the application stores after a refresh of the sample gateway.
struct Files {
    test::TempDir dir;
    std::filesystem::path directory = dir.path() / "container";

    Files() {
        const Instant now = std::chrono::system_clock::now();
        Snapshot s;
        s.endpoint = "http://127.0.0.1:3425";
        s.updatedAt = now;
        s.quotas = Wire::decode<QuotaEnvelope>(sample::quotas(now)).data;
        for (const auto& [key, wire] :
             {std::pair{"today", "today"}, {"week", "7d"}, {"month", "30d"}})
            s.usage[key] = Wire::decode<Usage>(*sample::usage(wire, now));
        SnapshotStore(directory).save(s);
        WidgetPreferences p;
        p.showRequests = p.showAgents = true;
        WidgetPreferencesStore(directory).save(p);
        SelectionSuite(directory).update("selection.all", [](std::int64_t) { return 2; });
    }
};

Files& files() {
    static Files instance;
    return instance;
}

std::string slurp(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void BM_RawRead(benchmark::State& state) {
    const auto& dir = files().directory;
    for (auto _ : state) {
        benchmark::DoNotOptimize(slurp(dir / "snapshot.json"));
        benchmark::DoNotOptimize(slurp(dir / "widget-preferences.json"));
    }
}
BENCHMARK(BM_RawRead)->UseRealTime();

void BM_MakeEntry(benchmark::State& state) {
    const auto& dir = files().directory;
    for (auto _ : state)
        benchmark::DoNotOptimize(Provider::makeEntry({}, dir));
}
BENCHMARK(BM_MakeEntry)->UseRealTime();

const std::filesystem::path& scaled(int scale) {
    static std::map<int, test::TempDir> dirs;
    const std::filesystem::path& directory = dirs[scale].path();
    if (!std::filesystem::exists(directory / "snapshot.json")) {
        SnapshotStore(directory).save(bench::realisticSnapshot(scale));
        WidgetPreferencesStore(directory).save({});
    }
    return directory;
}

void entryVsRead(benchmark::State& state, bool further) {
    const auto& dir = scaled(int(state.range(0)));
    // A widget of the burst that already holds its entry.
    const Entry first = further ? Provider::makeEntry({}, dir) : Provider::placeholder();
    bench::interleaved(
        state,
        [&] {
            benchmark::DoNotOptimize(FileIO::read(dir / "snapshot.json"));
            benchmark::DoNotOptimize(FileIO::read(dir / "widget-preferences.json"));
        },
        [&] { benchmark::DoNotOptimize(Provider::makeEntry({}, dir)); });
}
void BM_FirstEntryVsRead(benchmark::State& state) {
    entryVsRead(state, false);
}
void BM_FurtherEntryVsRead(benchmark::State& state) {
    entryVsRead(state, true);
}
BENCHMARK(BM_FirstEntryVsRead)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(BM_FurtherEntryVsRead)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);

// What 20 placed widgets keep of their entries beyond the first one.
void BM_HeldEntryHeap(benchmark::State& state) {
    const auto& dir = scaled(int(state.range(0)));
    for (auto _ : state) {
        std::vector<Entry> held;
        held.reserve(21);
        const auto empty = mallinfo2().uordblks;
        held.push_back(Provider::makeEntry({}, dir));
        const auto first = mallinfo2().uordblks;
        for (int i = 0; i < 20; ++i)
            held.push_back(Provider::makeEntry({}, dir));
        state.counters["first_KiB"] = double(first - empty) / 1024;
        state.counters["further_KiB"] = double(mallinfo2().uordblks - first) / 20 / 1024;
    }
}
BENCHMARK(BM_HeldEntryHeap)->Arg(1)->Arg(10)->Arg(100)->Iterations(1);

QImage canvas(QSize size) {
    QImage image(size * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    return image;
}

void BM_DrawEmpty(benchmark::State& state) {
    QWidget empty;
    empty.setFixedSize(widget::familySize(widget::Family::Large));
    empty.setAttribute(Qt::WA_DontShowOnScreen);
    empty.show();
    QImage image = canvas(empty.size());
    for (auto _ : state) {
        image.fill(Qt::transparent);
        empty.render(&image);
    }
}
BENCHMARK(BM_DrawEmpty)->UseRealTime();

void BM_DrawLarge(benchmark::State& state) {
    WidgetContent view(widget::Family::Large, Provider::makeEntry({}, files().directory));
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    QImage image = canvas(view.size());
    for (auto _ : state) {
        image.fill(Qt::transparent);
        view.QWidget::render(&image);
    }
}
BENCHMARK(BM_DrawLarge)->UseRealTime();

// A new entry arrives: the view is rebuilt, then drawn.
void BM_RebuildAndDrawLarge(benchmark::State& state) {
    const Entry entry = Provider::makeEntry({}, files().directory);
    WidgetContent view(widget::Family::Large, entry);
    view.setAttribute(Qt::WA_DontShowOnScreen);
    view.show();
    QImage image = canvas(view.size());
    for (auto _ : state) {
        view.setEntry(entry);
        image.fill(Qt::transparent);
        view.QWidget::render(&image);
    }
}
BENCHMARK(BM_RebuildAndDrawLarge)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    return bench::runWithRatios(argc, argv,
                                {{"entry from the shared files / raw read of the two files",
                                  "BM_MakeEntry/real_time", "BM_RawRead/real_time"},
                                 {"large widget drawn / empty widget drawn",
                                  "BM_DrawLarge/real_time", "BM_DrawEmpty/real_time"},
                                 {"large widget rebuilt and drawn / empty widget drawn",
                                  "BM_RebuildAndDrawLarge/real_time", "BM_DrawEmpty/real_time"}});
}
