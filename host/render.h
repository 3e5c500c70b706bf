// `tessel-widget-host render`: one widget drawn off-screen, as a placed widget would show it.
#pragma once

#include "host/plugins.h"

#include <QStringList>

class QCommandLineParser;

namespace tessel::host {

struct RenderOptions {
    QString family;
    QString configFile;
    qreal scale = 1;
    QString theme; // "light", "dark" or empty (the platform's)
    QString out;
    bool describe = false;
};

// Exit status 2 with `error` set for a bad command line.
int parseRender(const QStringList& arguments, RenderOptions& options, QString& error);

// Why `parser` refused `arguments` (the program's name first), naming the argument as given:
// Qt's own texts are English and drop the dashes.
QString argumentError(const QCommandLineParser& parser, const QStringList& arguments);

// Needs a QApplication. Prints the description on `out`, messages on `err`; returns the exit
// status (0, or 2 for a bad family, configuration or output path, 1 without a plug-in).
int render(const RenderOptions& options, const QList<LoadedPlugin>& plugins, FILE* out, FILE* err);

// The configuration file's object checked against the plug-in's parameters: each key must name
// a parameter and hold a value of its type (a choice one of its offered values).
bool readConfiguration(const QByteArray& json, const QList<widget::Parameter>& parameters,
                       QJsonObject& configuration, QString& error);

// The description printed by --describe, keys in a fixed order.
QByteArray describe(const QString& kind, widget::Family family, const widget::WidgetView& view,
                    const QDateTime& reloadAfter);

} // namespace tessel::host
