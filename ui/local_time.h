#pragma once

#include <QLocale>
#include <QString>

#include "model/records.h"

namespace tessel {

// Locale-aware instants, in the user's time zone at the moment of the call.
namespace LocalTime {
// The user's time locale, read at every call by the rule of Display's number texts.
QLocale userLocale();
// Abbreviated date and short time ("2025年3月1日 08:00", "Mar 1, 2025, 8:00 AM").
QString dateTime(Instant at, const QLocale& locale = userLocale());
// Abbreviated date and time with seconds ("2025年3月1日 08:00:05").
QString dateTimeWithSeconds(Instant at, const QLocale& locale = userLocale());
// Short time only ("08:00", "8:00 AM").
QString time(Instant at, const QLocale& locale = userLocale());
} // namespace LocalTime

} // namespace tessel
