#include "widgets/widget_text.h"

#include <unicode/datefmt.h>
#include <unicode/dtptngen.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

#include "model/display.h"

namespace tessel::WidgetText {

namespace {

// Pattern generation costs far more than formatting; keep one formatter per thread, locale and
// skeleton, and give it the host's time zone at each call, since the zone may change.
std::string format(Instant instant, const char* skeleton) {
    thread_local std::map<std::pair<std::string, std::string>,
                          std::unique_ptr<icu::SimpleDateFormat>>
        cache;
    const std::string locale = Display::localeName("LC_TIME");
    auto& format = cache[{locale, skeleton}];
    if (!format) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Locale icuLocale(locale.c_str());
        std::unique_ptr<icu::DateTimePatternGenerator> generator(
            icu::DateTimePatternGenerator::createInstance(icuLocale, status));
        if (U_SUCCESS(status)) {
            // Two digits per field whatever the locale prefers ("H:mm", "d/M"): the best pattern
            // keeps the locale's order and separators, and the skeleton's lengths are put back
            // also where the locale's data names the pattern for that very skeleton.
            const icu::UnicodeString wanted(skeleton);
            const icu::UnicodeString pattern = generator->replaceFieldTypes(
                generator->getBestPattern(wanted, UDATPG_MATCH_ALL_FIELDS_LENGTH, status), wanted,
                UDATPG_MATCH_ALL_FIELDS_LENGTH, status);
            if (U_SUCCESS(status))
                format = std::make_unique<icu::SimpleDateFormat>(pattern, icuLocale, status);
        }
        if (U_FAILURE(status) || !format)
            format = std::make_unique<icu::SimpleDateFormat>(
                icu::UnicodeString(std::string(skeleton) == "HHmm" ? "HH:mm" : "MM/dd HH:mm"),
                status);
    }
    format->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
    const double millis = double(
        std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count());
    icu::UnicodeString text;
    format->format(millis, text);
    std::string out;
    return text.toUTF8String(out);
}

} // namespace

std::string clock(Instant instant) {
    return format(instant, "HHmm");
}

std::string reset(Instant instant) {
    return format(instant, "MMddHHmm");
}

std::string percent(double value) {
    return Display::percent(value) + "%";
}

std::string remaining(const QuotaWindow* window) {
    if (!window)
        return std::string(Display::placeholder);
    if (window->unlimited.value_or(false))
        return "无限制";
    if (window->remaining)
        return percent(*window->remaining);
    if (!window->used)
        return std::string(Display::placeholder);
    const double left = 100.0 - *window->used;
    return percent(std::isnan(left) || left < 0 ? 0.0 : left);
}

} // namespace tessel::WidgetText
