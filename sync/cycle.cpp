#include "sync/cycle.h"

#include <algorithm>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "gateway/errors.h"

namespace tessel::Cycle {

namespace {

std::string message(const std::exception_ptr& error) {
    // An answer that was never asked for still must not read as a success.
    if (!error)
        return safeError(std::make_exception_ptr(std::runtime_error("no answer")));
    return safeError(error);
}

template <class T> T* value(std::optional<Outcome<T>>& outcome) {
    return outcome ? std::get_if<T>(&*outcome) : nullptr;
}

template <class T> std::exception_ptr error(const std::optional<Outcome<T>>& outcome) {
    if (!outcome)
        return {};
    const auto* e = std::get_if<std::exception_ptr>(&*outcome);
    return e ? *e : std::exception_ptr{};
}

template <class T> bool fresh(const std::optional<Outcome<T>>& outcome) {
    return outcome && std::holds_alternative<T>(*outcome);
}

// Whether the previous quotas, or its usage under `key`, stay because no fresh answer replaces
// them. A failed handshake keeps everything, so only then do the answers count.
bool keptQuotas(const Answers& answers) {
    return !std::holds_alternative<std::string>(answers.handshake) || !fresh(answers.quotas);
}
bool keptUsage(const Answers& answers, std::string_view key) {
    if (!std::holds_alternative<std::string>(answers.handshake))
        return true;
    const auto period = std::find_if(periods.begin(), periods.end(),
                                     [&key](const Period& p) { return p.key == key; });
    return period == periods.end() || !fresh(answers.usage[std::size_t(period - periods.begin())]);
}

} // namespace

bool keepsRecords(const Snapshot& previous, std::string_view endpoint, const Answers& answers) {
    if (previous.endpoint != endpoint)
        return false;
    return keptQuotas(answers) ||
           std::any_of(previous.usage.begin(), previous.usage.end(),
                       [&answers](const auto& entry) { return keptUsage(answers, entry.first); });
}

namespace {

// `Previous` is const Snapshot& (the published snapshot, copied from) or Snapshot (one read for
// this cycle alone, whose kept parts are moved).
template <class Previous>
Snapshot startFrom(Previous&& previous, std::string_view endpoint, Instant attemptedAt,
                   const Answers& answers) {
    auto take = [](auto& part) -> decltype(auto) {
        if constexpr (std::is_lvalue_reference_v<Previous>)
            return std::as_const(part);
        else
            return std::move(part);
    };
    Snapshot next;
    next.endpoint = std::string(endpoint);
    next.attemptedAt = attemptedAt;
    if (previous.endpoint != endpoint)
        return next;
    // Bound member by member, so that a field added to Snapshot cannot be dropped silently.
    [[maybe_unused]] auto& [schema, updatedAt, attempted, quotaUpdatedAt, usageUpdatedAt, kept,
                            version, issue, quotas, usage] = previous;
    next.schema = schema;
    next.updatedAt = updatedAt;
    next.quotaUpdatedAt = quotaUpdatedAt;
    next.usageUpdatedAt = usageUpdatedAt;
    next.version = take(version);
    next.issue = take(issue);
    if (keptQuotas(answers))
        next.quotas = take(quotas);
    for (auto& [key, periodUsage] : usage)
        if (keptUsage(answers, key))
            next.usage.emplace(key, take(periodUsage));
    return next;
}

} // namespace

Snapshot start(const Snapshot& previous, std::string_view endpoint, Instant attemptedAt,
               const Answers& answers) {
    return startFrom(previous, endpoint, attemptedAt, answers);
}

Snapshot start(Snapshot&& previous, std::string_view endpoint, Instant attemptedAt,
               const Answers& answers) {
    return startFrom(std::move(previous), endpoint, attemptedAt, answers);
}

Result merge(Snapshot next, Answers answers, Instant now) {
    if (const auto* failure = std::get_if<std::exception_ptr>(&answers.handshake)) {
        next.issue = message(*failure);
        return {std::move(next), true};
    }
    next.version = std::get<std::string>(answers.handshake);

    std::string lines;
    auto addLine = [&lines](std::string_view head, const std::string& text) {
        if (!lines.empty())
            lines += '\n';
        lines.append(head).append(text);
    };

    if (auto* quotas = value(answers.quotas)) {
        next.quotas = std::move(*quotas);
        next.quotaUpdatedAt = answers.quotasArrived;
    } else {
        addLine(quotasPrefix, message(error(answers.quotas)));
    }

    bool usageComplete = true;
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const std::string key(periods[i].key);
        if (auto* usage = value(answers.usage[i])) {
            next.usage[key] = std::move(*usage);
        } else {
            usageComplete = false;
            addLine(key + std::string(periodSeparator), message(error(answers.usage[i])));
        }
    }
    if (usageComplete)
        next.usageUpdatedAt = answers.usageArrived;

    if (lines.empty()) {
        next.updatedAt = now;
        next.issue.reset();
        return {std::move(next), false};
    }
    next.issue = std::move(lines);
    return {std::move(next), true};
}

} // namespace tessel::Cycle
