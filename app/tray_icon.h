// The tray's picture: the bird, with the menu-bar title drawn over its lower part when the
// title is a percentage. The number sits on a dark badge with a light rim, so it reads on dark
// and light panels alike.
#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

namespace tessel::TrayIcon {

// `size` logical pixels square at `ratio` device pixels per logical pixel.
QImage render(const QString& title, int size, qreal ratio = 1.0);

// Every common tray size at 1x and 2x, so panels never scale a bitmap up.
QIcon icon(const QString& title);

// The bird alone, for window icons.
QIcon bird();

// The text drawn into the icon: the title when it is a percentage, else nothing.
QString badgeText(const QString& title);

} // namespace tessel::TrayIcon
