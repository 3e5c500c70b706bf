// The widget plug-in's costs against their floors, in interleaved pairs over the realistic data at
// 1x, 10x and 100x: one timeline entry from the shared files against reading the same two files
// raw (for the first entry of a reload burst and for a further one, with the heap a further held
// entry adds), and one large widget drawn into an image against an empty widget of the same size.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <malloc.h>
#include <map>

#include "bench/pairs.h"
#include "bench/qt_main.h"
#include "storage/file_io.h"
#include "storage/snapshot_store.h"
#include "storage/widget_preferences.h"
#include "support/temp_dir.h"
#include "widgets/provider.h"
#include "widgets/selection_suite.h"
#include "widgets/widget_content.h"

using namespace tessel;

namespace {

const std::filesystem::path& scaled(int scale) {
    static std::map<int, test::TempDir> dirs;
    const std::filesystem::path& directory = dirs[scale].path();
    if (!std::filesystem::exists(directory / "snapshot.json")) {
        SnapshotStore(directory).save(bench::realisticSnapshot(scale));
        WidgetPreferences p;
        p.showRequests = p.showAgents = true;
        WidgetPreferencesStore(directory).save(p);
        SelectionSuite(directory).update("selection.all", [](std::int64_t) { return 2; });
    }
    return directory;
}

void entryVsRead(benchmark::State& state, bool further) {
    const auto& dir = scaled(int(state.range(0)));
    // Further: a widget of the burst has decoded the snapshot already (nothing here ends the
    // burst). First: the burst ends with the entry, so its snapshot is freed, as it was when the
    // entries held it.
    Provider::releaseSnapshot();
    if (further)
        benchmark::DoNotOptimize(Provider::makeEntry({}, dir));
    bench::interleaved(
        state,
        [&] {
            benchmark::DoNotOptimize(FileIO::read(dir / "snapshot.json"));
            benchmark::DoNotOptimize(FileIO::read(dir / "widget-preferences.json"));
        },
        [&] {
            benchmark::DoNotOptimize(Provider::makeEntry({}, dir));
            if (!further)
                Provider::releaseSnapshot();
        });
}
void BM_FirstEntryVsRead(benchmark::State& state) {
    entryVsRead(state, false);
}
void BM_FurtherEntryVsRead(benchmark::State& state) {
    entryVsRead(state, true);
}
BENCHMARK(BM_FirstEntryVsRead)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(BM_FurtherEntryVsRead)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);

// What the first and 20 further placed widgets keep of their entries once the burst is over.
void BM_HeldEntryHeap(benchmark::State& state) {
    const auto& dir = scaled(int(state.range(0)));
    for (auto _ : state) {
        std::vector<Entry> held;
        held.reserve(21);
        Provider::releaseSnapshot();
        const auto empty = mallinfo2().uordblks;
        held.push_back(Provider::makeEntry({}, dir));
        Provider::releaseSnapshot();
        const auto first = mallinfo2().uordblks;
        for (int i = 0; i < 20; ++i)
            held.push_back(Provider::makeEntry({}, dir));
        Provider::releaseSnapshot();
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

// A large widget over the data at a scale drawn, and a new entry arriving (the view rebuilt, then
// drawn), each against an empty widget of the same size drawn.
struct Drawn {
    explicit Drawn(QWidget& widget) : widget(widget), image(canvas(widget.size())) {
        widget.setAttribute(Qt::WA_DontShowOnScreen);
        widget.show();
    }
    void operator()() {
        image.fill(Qt::transparent);
        widget.render(&image);
    }
    QWidget& widget;
    QImage image;
};

void drawVsEmpty(benchmark::State& state, bool rebuild) {
    const Entry entry = Provider::makeEntry({}, scaled(int(state.range(0))));
    QWidget emptyWidget;
    emptyWidget.setFixedSize(widget::familySize(widget::Family::Large));
    WidgetContent view(widget::Family::Large, entry);
    Drawn empty(emptyWidget), large(view);
    bench::interleaved(
        state, [&] { empty(); },
        [&] {
            if (rebuild)
                view.setEntry(entry);
            large();
        });
}
void BM_DrawLargeVsEmpty(benchmark::State& state) {
    drawVsEmpty(state, false);
}
void BM_RebuildAndDrawLargeVsEmpty(benchmark::State& state) {
    drawVsEmpty(state, true);
}
BENCHMARK(BM_DrawLargeVsEmpty)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);
BENCHMARK(BM_RebuildAndDrawLargeVsEmpty)->Arg(1)->Arg(10)->Arg(100)->Iterations(7);

} // namespace

// Each "ratio": the plug-in's cost over its floor, over the data at 1x, 10x, 100x.
int main(int argc, char** argv) {
    return bench::runQtWithRatios<QApplication>(argc, argv);
}
