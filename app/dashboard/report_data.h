// What the report shows, as plain values: the choices of its two pickers, the usage record of a
// period, the tiles' figures, the distribution rows and the footnotes. No widgets here.
#pragma once

#include <QString>

#include <array>
#include <vector>

#include "model/snapshot.h"

namespace tessel::Report {

struct Choice {
    QString label;
    QString value;
};

// "今日", "7 日", "30 日"; "Agent", "模型", "供应商".
const std::array<Choice, 3>& periods();
const std::array<Choice, 3>& dimensions();

inline constexpr char initialPeriod[] = "today";
inline constexpr char initialDimension[] = "agents";

// The snapshot's entry for the period; null when it has none. Points into `snapshot`.
const Usage* usageFor(const Snapshot& snapshot, const QString& period);

// The navigation title ("用量分析" or "概览") and the headline's title.
QString navigationTitle(const QString& screen);
QString headline(const QString& screen);
// Only the overview shows the subscriptions, not an unknown section.
bool showsSubscriptions(const QString& screen);

struct Tile {
    QString title;
    QString value;
    QString symbol;
};
std::array<Tile, 3> tiles(const Usage* usage);

struct Row {
    QString name;
    QString sub; // shown only when hasSub
    bool hasSub = false;
    QString calls;
    QString cost;
};
// Every group of the chosen list, in its order; "providers" and any unknown dimension give the
// roll-up of the models.
std::vector<Row> rows(const Usage* usage, const QString& dimension);

// "费用为 Tessel … N 次请求缺少定价。"
QString pricingNote(const Usage* usage);
QString scopeNote();
// "最近完整同步：…", empty without a complete sync.
QString syncNote(const Snapshot& snapshot);

} // namespace tessel::Report
