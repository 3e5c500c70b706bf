#include "storage/widget_preferences.h"

#include <cerrno>
#include <limits>
#include <system_error>

#include <nlohmann/json.hpp>

#include "storage/container.h"
#include "storage/file_io.h"

namespace tessel {

namespace {

constexpr const char* fileName = "widget-preferences.json";

using Json = nlohmann::json;

// Strict reading: every key present and of its own JSON type, nothing coerced.
struct Unusable {};

const Json& field(const Json& object, const char* key) {
    const auto it = object.find(key);
    if (it == object.end())
        throw Unusable{};
    return *it;
}

bool flag(const Json& object, const char* key) {
    const Json& value = field(object, key);
    if (!value.is_boolean())
        throw Unusable{};
    return value.get<bool>();
}

std::string text(const Json& object, const char* key) {
    const Json& value = field(object, key);
    if (!value.is_string())
        throw Unusable{};
    return value.get<std::string>();
}

std::int64_t integer(const Json& object, const char* key) {
    const Json& value = field(object, key);
    if (value.is_number_integer() && !value.is_number_unsigned())
        return value.get<std::int64_t>();
    if (value.is_number_unsigned() &&
        value.get<std::uint64_t>() <=
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return static_cast<std::int64_t>(value.get<std::uint64_t>());
    throw Unusable{};
}

std::vector<std::string> texts(const Json& object, const char* key) {
    const Json& value = field(object, key);
    if (!value.is_array())
        throw Unusable{};
    std::vector<std::string> result;
    result.reserve(value.size());
    for (const Json& item : value) {
        if (!item.is_string())
            throw Unusable{};
        result.push_back(item.get<std::string>());
    }
    return result;
}

WidgetPreferences decode(const std::string& bytes) {
    const Json object = Json::parse(bytes);
    if (!object.is_object())
        throw Unusable{};
    WidgetPreferences p;
    p.providerIDs = texts(object, "providerIDs");
    p.quotaCount = integer(object, "quotaCount");
    p.metric = text(object, "metric");
    p.period = text(object, "period");
    p.showQuotas = flag(object, "showQuotas");
    p.showWindowName = flag(object, "showWindowName");
    p.showReset = flag(object, "showReset");
    p.showSync = flag(object, "showSync");
    p.showCost = flag(object, "showCost");
    p.showTokens = flag(object, "showTokens");
    p.showChart = flag(object, "showChart");
    p.chartMetric = text(object, "chartMetric");
    p.showRequests = flag(object, "showRequests");
    p.showAgents = flag(object, "showAgents");
    return p;
}

std::string encode(const WidgetPreferences& p) {
    const nlohmann::ordered_json object = {
        {"providerIDs", p.providerIDs},
        {"quotaCount", p.quotaCount},
        {"metric", p.metric},
        {"period", p.period},
        {"showQuotas", p.showQuotas},
        {"showWindowName", p.showWindowName},
        {"showReset", p.showReset},
        {"showSync", p.showSync},
        {"showCost", p.showCost},
        {"showTokens", p.showTokens},
        {"showChart", p.showChart},
        {"chartMetric", p.chartMetric},
        {"showRequests", p.showRequests},
        {"showAgents", p.showAgents},
    };
    // Texts that are not UTF-8 cannot be written as JSON; fail instead of writing a file that
    // every reader would reject.
    try {
        return object.dump();
    } catch (const nlohmann::json::type_error&) {
        throw std::system_error(EILSEQ, std::generic_category(), "preferences are not UTF-8");
    }
}

} // namespace

WidgetPreferencesStore::WidgetPreferencesStore() : directory_(SharedContainer::directory()) {}

WidgetPreferencesStore::WidgetPreferencesStore(std::optional<std::filesystem::path> directory)
    : directory_(std::move(directory)) {}

WidgetPreferences WidgetPreferencesStore::load() const {
    if (!directory_)
        return {};
    try {
        return decode(FileIO::read(*directory_ / fileName));
    } catch (const std::system_error&) {
    } catch (const Json::exception&) {
    } catch (const Unusable&) {
    }
    return {};
}

void WidgetPreferencesStore::save(const WidgetPreferences& preferences) const {
    if (!directory_)
        throw std::system_error(ENOENT, std::generic_category());
    FileIO::makeDirectory(*directory_);
    const std::string bytes = encode(preferences);
    FileIO::writeAtomically(*directory_ / fileName, bytes);
}

} // namespace tessel
