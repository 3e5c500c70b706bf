#include "records.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tessel {

namespace {

// The gateway's counts never come near the range; saturate instead of overflowing.
std::int64_t add(std::int64_t a, std::int64_t b) {
    std::int64_t sum;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? std::numeric_limits<std::int64_t>::max()
                     : std::numeric_limits<std::int64_t>::min();
    return sum;
}

} // namespace

Instant::duration elapsed(Instant from, Instant to) {
    using Rep = Instant::duration::rep;
    Rep difference;
    if (__builtin_sub_overflow(to.time_since_epoch().count(), from.time_since_epoch().count(),
                               &difference))
        return to > from ? Instant::duration::max() : Instant::duration::min();
    return Instant::duration(difference);
}

std::optional<double> QuotaWindow::remainingPercent() const {
    if (unlimited.value_or(false))
        return std::nullopt;
    if (remaining)
        return remaining;
    if (!used)
        return std::nullopt;
    const double left = 100.0 - *used;
    return std::isnan(left) || left < 0 ? 0.0 : left;
}

std::string Quota::id() const {
    return from.value_or("") + '|' + provider + '|' + kind.value_or("") + '|' + user.value_or("");
}

std::string Quota::title() const {
    return alias && !alias->empty() ? std::string(*alias) : name;
}

std::string Quota::measurementState() const {
    if (error)
        return "提供商暂不可用";
    if (balance)
        return "已获取";
    if (windows && !windows->empty())
        return "已获取";
    if (kind == "balance")
        return "不支持或尚未提供余额";
    return "尚未获取额度";
}

std::int64_t UsagePoint::tokens() const {
    return add(input.value_or(0), output.value_or(0));
}

std::optional<std::int64_t> Usage::tokens() const {
    if (!input || !output)
        return std::nullopt;
    return add(*input, *output);
}

std::vector<UsageGroup> Usage::providers() const {
    std::vector<UsageGroup> groups;
    if (!models)
        return groups;
    for (const UsageGroup& model : *models) {
        const std::string key = model.provider.value_or("unknown");
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&key](const UsageGroup& g) { return g.id == key; });
        if (group == groups.end()) {
            UsageGroup fresh;
            fresh.id = key;
            fresh.provider = key;
            fresh.name = model.sub.value_or(key);
            fresh.calls = fresh.input = fresh.output = 0;
            fresh.cost = 0.0;
            group = groups.insert(groups.end(), std::move(fresh));
        }
        group->calls = add(*group->calls, model.calls.value_or(0));
        group->input = add(*group->input, model.input.value_or(0));
        group->output = add(*group->output, model.output.value_or(0));
        group->cost = *group->cost + model.cost.value_or(0.0);
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const UsageGroup& a, const UsageGroup& b) { return *a.calls > *b.calls; });
    return groups;
}

} // namespace tessel
