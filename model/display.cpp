#include "display.h"

#include <cstdio>
#include <cstdlib>
#include <map>

#include <unicode/locid.h>
#include <unicode/numberformatter.h>

namespace tessel {

namespace {

enum class Style { Money, Compact };

std::string format(Style style, const char* category, double value, bool integral,
                   std::int64_t whole) {
    using namespace icu::number;
    // Building a formatter costs far more than formatting; keep one per locale and style.
    thread_local std::map<std::pair<std::string, Style>, LocalizedNumberFormatter> cache;
    const std::string name = Display::localeName(category);
    auto it = cache.find({name, style});
    if (it == cache.end()) {
        UErrorCode status = U_ZERO_ERROR;
        const icu::Locale locale(name.c_str());
        LocalizedNumberFormatter formatter =
            style == Style::Money
                ? NumberFormatter::withLocale(locale).unit(icu::CurrencyUnit(u"USD", status))
                : NumberFormatter::withLocale(locale).notation(Notation::compactShort());
        if (U_FAILURE(status))
            formatter = NumberFormatter::withLocale(locale);
        it = cache.emplace(std::pair{name, style}, std::move(formatter)).first;
    }
    UErrorCode status = U_ZERO_ERROR;
    const FormattedNumber result =
        integral ? it->second.formatInt(whole, status) : it->second.formatDouble(value, status);
    std::string out;
    result.toString(status).toUTF8String(out);
    if (U_FAILURE(status))
        return integral ? std::to_string(whole) : std::to_string(value);
    return out;
}

} // namespace

// The POSIX locale category the user set, read now, so a changed environment applies at once.
std::string Display::localeName(const char* category) {
    for (const char* var : {"LC_ALL", category, "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) {
            std::string name(value);
            name = name.substr(0, name.find_first_of(".@")); // zh_CN.UTF-8@x -> zh_CN
            if (name == "C" || name == "POSIX" || name.empty())
                return "en_US";
            return name;
        }
    }
    return "en_US";
}

namespace Display {

std::string money(std::optional<double> value) {
    if (!value)
        return std::string(placeholder);
    return format(Style::Money, "LC_MONETARY", *value, false, 0);
}

std::string number(std::optional<std::int64_t> value) {
    if (!value)
        return std::string(placeholder);
    return format(Style::Compact, "LC_NUMERIC", 0, true, *value);
}

} // namespace Display

std::string Display::percent(double value) {
    // Not Qt's or iostream's rounding, which differ from C's on halves.
    const int length = std::snprintf(nullptr, 0, "%.0f", value);
    std::string out(length > 0 ? std::size_t(length) : 0, '\0');
    std::snprintf(out.data(), out.size() + 1, "%.0f", value);
    return out;
}

} // namespace tessel
