// The tray's picture: the bird, with the menu-bar title drawn over its lower part when the
// title is a percentage. The number sits on a dark badge with a light rim, and the state mark
// is orange with a dark rim, so both read on dark and light panels alike.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace tessel::TrayIcon {

// What the snapshot behind the title is worth. Old data and a failed sync dim the picture and
// put an orange mark in its upper right corner ("!" for a failure, clock hands for old data).
enum class State { Current, Stale, Issue };

// `size` logical pixels square at `ratio` device pixels per logical pixel.
QImage render(const QString& title, int size, qreal ratio = 1.0, State state = State::Current);

// Every common tray size at 1x and 2x, so panels never scale a bitmap up.
QIcon icon(const QString& title, State state = State::Current);

// The bird alone, for window icons.
QIcon bird();

// The text drawn into the icon: the title when it is a percentage, else nothing.
QString badgeText(const QString& title);

} // namespace tessel::TrayIcon
