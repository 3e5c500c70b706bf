#include "app/dashboard/report_data.h"

#include "model/display.h"
#include "ui/local_time.h"

namespace tessel::Report {

namespace {

QString fromStd(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

Row row(const UsageGroup& group) {
    Row r;
    r.name = fromStd(group.name.value_or(group.id));
    r.hasSub = group.sub.has_value();
    if (r.hasSub)
        r.sub = fromStd(*group.sub);
    r.calls = fromStd(Display::number(group.calls)) + QStringLiteral(" 次");
    r.cost = fromStd(Display::money(group.cost));
    return r;
}

} // namespace

const std::array<Choice, 3>& periods() {
    static const std::array<Choice, 3> choices{
        {{QStringLiteral("今日"), QStringLiteral("today")},
         {QStringLiteral("7 日"), QStringLiteral("week")},
         {QStringLiteral("30 日"), QStringLiteral("month")}}};
    return choices;
}

const std::array<Choice, 3>& dimensions() {
    static const std::array<Choice, 3> choices{
        {{QStringLiteral("Agent"), QStringLiteral("agents")},
         {QStringLiteral("模型"), QStringLiteral("models")},
         {QStringLiteral("供应商"), QStringLiteral("providers")}}};
    return choices;
}

const Usage* usageFor(const Snapshot& snapshot, const QString& period) {
    const auto found = snapshot.usage.find(period.toStdString());
    return found == snapshot.usage.end() ? nullptr : &found->second;
}

QString navigationTitle(const QString& screen) {
    return screen == u"usage" ? QStringLiteral("用量分析") : QStringLiteral("概览");
}

QString headline(const QString& screen) {
    return screen == u"usage" ? QStringLiteral("用量分析") : QStringLiteral("你的 AI，一目了然。");
}

bool showsSubscriptions(const QString& screen) {
    return screen == u"overview";
}

std::array<Tile, 3> tiles(const Usage* usage) {
    const auto cost = usage ? usage->cost : std::nullopt;
    const auto tokens = usage ? usage->tokens() : std::nullopt;
    const auto calls = usage ? usage->calls : std::nullopt;
    return {{{QStringLiteral("估算费用 · USD"), fromStd(Display::money(cost)),
              QStringLiteral("dollarsign.circle")},
             {QStringLiteral("Token · 输入 + 输出"), fromStd(Display::number(tokens)),
              QStringLiteral("square.stack.3d.up")},
             {QStringLiteral("请求"), fromStd(Display::number(calls)),
              QStringLiteral("arrow.up.arrow.down")}}};
}

std::vector<Row> rows(const Usage* usage, const QString& dimension) {
    std::vector<Row> result;
    if (!usage)
        return result;
    auto add = [&result](const std::vector<UsageGroup>& groups) {
        result.reserve(groups.size());
        for (const UsageGroup& group : groups)
            result.push_back(row(group));
    };
    if (dimension == u"agents") {
        if (usage->agents)
            add(*usage->agents);
    } else if (dimension == u"models") {
        if (usage->models)
            add(*usage->models);
    } else {
        add(usage->providers());
    }
    return result;
}

QString pricingNote(const Usage* usage) {
    const std::int64_t unpriced = usage ? usage->unpriced.value_or(0) : 0;
    return QStringLiteral("费用为 Tessel 按有效价格计算或调用方上报的金额，不等于订阅账单；") +
           QString::number(unpriced) + QStringLiteral(" 次请求缺少定价。");
}

QString scopeNote() {
    return QStringLiteral(
        "仅统计 Tessel 已记录、导入或接收上报的调用。统计日界线与时间桶沿用 Gateway "
        "所在时区；图表时间按本机时区显示。缓存 Token 单独计量，不加入输入 + 输出总量。");
}

QString syncNote(const Snapshot& snapshot) {
    if (!snapshot.updatedAt)
        return {};
    return QStringLiteral("最近完整同步：") + LocalTime::dateTimeWithSeconds(*snapshot.updatedAt);
}

} // namespace tessel::Report
