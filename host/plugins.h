// Finding and loading the widget plug-ins. Searched: $TESSEL_WIDGET_PLUGIN_PATH (colon-
// separated), else the plug-in folder of the build tree when the host runs from there, else
// <libdir>/tessel/widgets.
#pragma once

#include "widget_api/widget_plugin.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace tessel::host {

struct LoadedPlugin {
    widget::WidgetPlugin* plugin = nullptr; // owned by its QPluginLoader's root object
    widget::WidgetDescription description;
    QString file;
};

namespace Plugins {

QStringList searchPath();

// Every usable plug-in in `folders`, the first of each kind. A library that is broken, of
// another program or a repeat of a kind already loaded is skipped with one warning line.
QList<LoadedPlugin> load(const QStringList& folders);

} // namespace Plugins

} // namespace tessel::host
