#include "app/dashboard/trend_chart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

#include "model/display.h"
#include "ui/local_time.h"
#include "ui/style.h"

namespace tessel {

namespace {

TesselMakeTrendChart resolveModule() {
    const QString name = QStringLiteral("libtessel_chart.so");
    QStringList candidates;
    // Beside the program in the build tree; in its own prefix's libdir when installed.
    if (QCoreApplication::instance()) {
        const QString here = QCoreApplication::applicationDirPath();
        candidates << here + QLatin1Char('/') + name
                   << QDir::cleanPath(here + QStringLiteral("/" TESSEL_CHART_FROM_BIN "/") + name);
    }
    candidates << QStringLiteral(TESSEL_CHART_INSTALLED) << QStringLiteral(TESSEL_CHART_BUILT);
    for (const QString& path : candidates) {
        if (!QFileInfo(path).isFile())
            continue;
        QLibrary module(path);
        if (auto make =
                reinterpret_cast<TesselMakeTrendChart>(module.resolve("tesselMakeTrendChart")))
            return make; // stays loaded: QLibrary never unloads by itself
    }
    return nullptr;
}

} // namespace

std::vector<TrendPoint> TrendChart::points(const std::vector<UsagePoint>& series) {
    std::vector<TrendPoint> result;
    result.reserve(series.size());
    for (const UsagePoint& p : series)
        result.push_back(
            {std::chrono::duration_cast<std::chrono::milliseconds>(p.time.time_since_epoch())
                 .count(),
             double(p.tokens())});
    return result;
}

ChartLook TrendChart::look() {
    ChartLook look;
    look.line = [](const QPalette& p) { return Style::mint(p); };
    look.labels = [](const QPalette& p) { return Style::secondary(p); };
    look.labelFont = [] { return Style::caption2(); };
    look.toolTip = [](qint64 msecs, double tokens) {
        const QLocale locale = LocalTime::userLocale();
        const Instant at{std::chrono::milliseconds(msecs)};
        return LocalTime::dateTime(at, locale) + QLatin1Char('\n') +
               locale.toString(qlonglong(tokens)) + QStringLiteral(" Token");
    };
    look.myriads = Display::localeName("LC_NUMERIC").starts_with("zh");
    return look;
}

TrendChart* TrendChart::make(const ChartLook& style) {
    static const TesselMakeTrendChart make = resolveModule();
    return make ? make(&style) : nullptr;
}

} // namespace tessel
