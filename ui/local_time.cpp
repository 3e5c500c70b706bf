#include "ui/local_time.h"

#include <QDateTime>

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

#include <memory>

#include "model/display.h"

namespace tessel {

namespace {

QString formatIcu(Instant at, const QLocale& locale, icu::DateFormat::EStyle dateStyle,
                  icu::DateFormat::EStyle timeStyle = icu::DateFormat::kShort) {
    const double millis = double(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
    const QString name = locale.language() == QLocale::C ? QStringLiteral("en_US") : locale.name();
    std::unique_ptr<icu::DateFormat> format(icu::DateFormat::createDateTimeInstance(
        dateStyle, timeStyle, icu::Locale(name.toLatin1().constData())));
    if (!format) {
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(qint64(millis));
        return dateStyle == icu::DateFormat::kNone
                   ? locale.toString(local.time(), QLocale::ShortFormat)
                   : locale.toString(local, QLocale::ShortFormat);
    }
    // Detected at every call: the zone may change while the application runs.
    format->adoptTimeZone(icu::TimeZone::detectHostTimeZone());
    icu::UnicodeString text;
    format->format(millis, text);
    return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

} // namespace

namespace LocalTime {

QLocale userLocale() {
    return QLocale(QString::fromStdString(Display::localeName("LC_TIME")));
}

QString dateTime(Instant at, const QLocale& locale) {
    return formatIcu(at, locale, icu::DateFormat::kMedium);
}

QString dateTimeWithSeconds(Instant at, const QLocale& locale) {
    return formatIcu(at, locale, icu::DateFormat::kMedium, icu::DateFormat::kMedium);
}

QString time(Instant at, const QLocale& locale) {
    return formatIcu(at, locale, icu::DateFormat::kNone);
}

} // namespace LocalTime

} // namespace tessel
