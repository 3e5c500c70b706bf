// The host's own record of the placed widgets: $XDG_CONFIG_HOME/quorvane/tessel-widget-host.ini
// (mode 0600 in a 0700 folder). Hand-edited or damaged files load as far as they make sense.
#pragma once

#include <QJsonObject>
#include <QList>
#include <QPoint>
#include <QString>
#include <QStringList>

#include "widget_api/widget_plugin.h"

namespace tessel::host {

struct PlacedWidget {
    QString id;   // stable for the widget's life; ties its window to its record
    QString kind; // the plug-in's widget kind
    widget::Family family = widget::Family::Small; // stored by its name
    QPoint position;           // top-left, virtual-desktop coordinates (logical pixels)
    QString screen;            // name of the screen it was placed on
    QJsonObject configuration; // parameter key -> value; absent keys take the default

    bool operator==(const PlacedWidget&) const = default;
};

namespace HostSettings {

// More than this many widgets is no desktop anyone uses; the rest of a huge file is dropped.
inline constexpr int maxWidgets = 64;
// 64 widgets take a few KiB; a larger file is damage, and parsing it would cost its size many
// times over.
inline constexpr qint64 maxFileBytes = 1 << 20;

// Empty when neither XDG_CONFIG_HOME nor HOME gives a directory.
QString path();

// Records with an unknown family, an empty or repeated id or no kind are dropped, and so is
// everything after `maxWidgets` (reading stops there, whatever the array's size claims) and a
// file over `maxFileBytes`. `problems` gets a line for each of the first few drops, one line
// counting the rest and one for the limit. A configuration that is not a JSON object reads as
// all defaults.
QList<PlacedWidget> load(const QString& path, QStringList* problems = nullptr);

// Replaces the file atomically (0600 in a 0700 folder); a link to a regular file the user owns
// stays and its target is replaced. False when it cannot be written.
bool save(const QString& path, const QList<PlacedWidget>& widgets);

} // namespace HostSettings

} // namespace tessel::host
