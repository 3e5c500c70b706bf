#include "tools/sample-gateway/sample_data.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <ctime>

namespace tessel::sample {

namespace {

using json = nlohmann::ordered_json;
using namespace std::chrono_literals;

std::string iso(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(std::chrono::floor<std::chrono::seconds>(t));
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

double cents(double dollars) {
    return std::round(dollars * 100.0) / 100.0;
}

json window(std::string name, double used, Clock::time_point resetsAt) {
    return {{"name", std::move(name)},
            {"used", used},
            {"remaining", 100.0 - used},
            {"resetsAt", iso(resetsAt)}};
}

struct Model {
    const char* id;
    const char* name;
    const char* provider;
    const char* sub;
    double share;          // of all calls
    double dollarsPerMTok; // blended price
};

constexpr Model models[] = {
    {"fernhill-oak-3", "Fernhill Oak 3", "fernhill", "Fernhill Grove", 0.42, 6.2},
    {"nimbrel-wave", "Nimbrel Wave", "nimbrel", "Nimbrel Trail", 0.27, 4.8},
    {"brindle-1.8-deep", "Brindle 1.8 Deep", "brindle", "Brindle 团队版", 0.16, 3.9},
    {"brackwell-talk", "Brackwell Talk 2", "brackwell", "Brackwell 余额", 0.10, 0.9},
    {"fernhill-reed-3", "Fernhill Reed 3", "fernhill", "Fernhill Grove", 0.05, 1.6},
};

struct Agent {
    const char* id;
    const char* name;
    double share;
};

constexpr Agent agents[] = {
    {"cli", "终端助手", 0.48},
    {"editor", "编辑器插件", 0.31},
    {"review", "代码评审机器人", 0.14},
    {"chat", "桌面聊天", 0.07},
};

// A deterministic daily rhythm: quiet nights, busy afternoons, some wobble between buckets.
double activity(Clock::time_point t) {
    const std::time_t secs = Clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    const double hour = tm.tm_hour;
    const double day = 0.35 + 0.65 * std::exp(-std::pow((hour - 15.0) / 4.5, 2.0));
    const double weekday = (tm.tm_wday == 0 || tm.tm_wday == 6) ? 0.45 : 1.0;
    const double wobble = 0.85 + 0.3 * std::fabs(std::sin(tm.tm_yday * 12.9898 + hour * 78.233));
    return day * weekday * wobble;
}

} // namespace

std::string hello(std::string_view version) {
    return json{{"name", "tessel"}, {"version", version}}.dump();
}

std::string quotas(Clock::time_point now) {
    json data = json::array();
    data.push_back({{"provider", "fernhill"},
                    {"name", "Fernhill Grove"},
                    {"kind", "subscription"},
                    {"user", "lin@example.com"},
                    {"alias", "主力订阅"},
                    {"plan", "Grove 12x"},
                    {"from", "oauth"},
                    {"windows", json::array({window("5 小时", 37.5, now + 2h + 14min),
                                             window("7 天", 61.0, now + 76h),
                                             window("7 天 高级模型", 88.0, now + 76h)})},
                    {"readAt", iso(now - 40s)},
                    {"asOf", iso(now - 35s)}});
    data.push_back({{"provider", "nimbrel"},
                    {"name", "Nimbrel Trail"},
                    {"kind", "subscription"},
                    {"user", "lin@example.com"},
                    {"plan", "Trail"},
                    {"from", "oauth"},
                    {"windows", json::array({window("5 小时", 12.0, now + 3h + 41min),
                                             window("每周", 45.5, now + 5 * 24h + 6h)})},
                    {"readAt", iso(now - 62s)}});
    data.push_back({{"provider", "brindle"},
                    {"name", "Brindle 团队版"},
                    {"kind", "subscription"},
                    {"user", "team@example.com"},
                    {"alias", "团队 Brindle"},
                    {"plan", "Crew"},
                    {"from", "apikey"},
                    {"windows", json::array({{{"name", "每日请求"},
                                              {"used", 82.0},
                                              {"remaining", 18.0},
                                              {"resetsAt", iso(now + 9h + 5min)},
                                              {"display", "1,640 / 2,000 次"},
                                              {"amount", 1640},
                                              {"limit", 2000},
                                              {"unit", "requests"}}})},
                    {"readAt", iso(now - 3min)},
                    {"readDeferred", true}});
    data.push_back({{"provider", "brackwell"},
                    {"name", "Brackwell 余额"},
                    {"kind", "balance"},
                    {"from", "apikey"},
                    {"balance", "¥ 86.40"},
                    {"readAt", iso(now - 5min)}});
    data.push_back({{"provider", "tolvane"},
                    {"name", "Tolvane 试用"},
                    {"kind", "subscription"},
                    {"from", "apikey"},
                    {"error", "上游返回 401：密钥已过期"},
                    {"readAt", iso(now - 12min)}});
    data.push_back({{"provider", "local"},
                    {"name", "本地模型"},
                    {"kind", "unmetered"},
                    {"windows", json::array({{{"name", "不限量"}, {"unlimited", true}}})}});
    return json{{"data", data}}.dump();
}

std::optional<std::string> usage(std::string_view period, Clock::time_point now) {
    int buckets;
    Clock::duration step;
    if (period == "today") {
        buckets = 24;
        step = 1h;
    } else if (period == "7d") {
        buckets = 7;
        step = 24h;
    } else if (period == "30d") {
        buckets = 30;
        step = 24h;
    } else {
        return std::nullopt;
    }

    // Buckets start at local midnight (today) or at the local midnight `buckets - 1` days ago.
    const std::time_t nowSecs = Clock::to_time_t(now);
    std::tm midnight{};
    localtime_r(&nowSecs, &midnight);
    midnight.tm_hour = midnight.tm_min = midnight.tm_sec = 0;
    if (step == 24h)
        midnight.tm_mday -= buckets - 1;
    midnight.tm_isdst = -1;
    const auto since = Clock::from_time_t(std::mktime(&midnight));

    json series = json::array();
    std::int64_t input = 0, output = 0, calls = 0;
    double cost = 0;
    for (int i = 0; i < buckets; ++i) {
        const auto start = since + i * step;
        if (start > now)
            break;
        const double hours = step == 1h ? 1.0 : 24.0;
        const double load = step == 1h ? activity(start) : activity(start + 15h);
        // A busy hour is about 1.8 M input and 160 k output tokens.
        const auto in = static_cast<std::int64_t>(1'800'000 * load * hours / (hours > 1 ? 2.2 : 1));
        const auto out = static_cast<std::int64_t>(in * 0.088);
        const double dollars = cents((in * 4.1 + out * 16.0) / 1e6);
        const auto n = static_cast<std::int64_t>(in / 21'000);
        input += in;
        output += out;
        calls += n;
        cost += dollars;
        char label[16];
        const std::time_t secs = Clock::to_time_t(start);
        std::tm tm{};
        localtime_r(&secs, &tm);
        std::strftime(label, sizeof label, step == 1h ? "%H:00" : "%m-%d", &tm);
        series.push_back({{"label", label},
                          {"time", iso(start)},
                          {"input", in},
                          {"output", out},
                          {"cost", dollars}});
    }
    cost = cents(cost);

    json modelList = json::array();
    for (const auto& m : models) {
        const auto in = static_cast<std::int64_t>(input * m.share);
        const auto out = static_cast<std::int64_t>(output * m.share);
        modelList.push_back({{"id", m.id},
                             {"name", m.name},
                             {"provider", m.provider},
                             {"sub", m.sub},
                             {"calls", static_cast<std::int64_t>(calls * m.share)},
                             {"input", in},
                             {"output", out},
                             {"cost", cents((in + out) * m.dollarsPerMTok / 1e6)}});
    }
    json agentList = json::array();
    for (const auto& a : agents) {
        agentList.push_back({{"id", a.id},
                             {"name", a.name},
                             {"calls", static_cast<std::int64_t>(calls * a.share)},
                             {"input", static_cast<std::int64_t>(input * a.share)},
                             {"output", static_cast<std::int64_t>(output * a.share)},
                             {"cost", cents(cost * a.share)}});
    }

    return json{{"period", period},
                {"since", iso(since)},
                {"calls", calls},
                {"input", input},
                {"output", output},
                {"cache_read", static_cast<std::int64_t>(input * 0.63)},
                {"cache_write", static_cast<std::int64_t>(input * 0.07)},
                {"cost", cost},
                {"unpriced", calls / 97},
                {"series", series},
                {"agents", agentList},
                {"models", modelList}}
        .dump();
}

} // namespace tessel::sample
