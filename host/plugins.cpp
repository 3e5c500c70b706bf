#include "host/plugins.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QSet>

namespace tessel::host::Plugins {

QStringList searchPath() {
    const QString env = qEnvironmentVariable("TESSEL_WIDGET_PLUGIN_PATH");
    if (!env.isEmpty())
        return env.split(u':', Qt::SkipEmptyParts);
    const QString here = QCoreApplication::applicationDirPath();
    if (!here.isEmpty() && QFileInfo(here).canonicalFilePath() ==
                               QFileInfo(QStringLiteral(TESSEL_HOST_BUILD_DIR)).canonicalFilePath())
        return {QStringLiteral(TESSEL_BUILD_PLUGIN_DIR)};
    // Installed: the libdir of the prefix the host itself was installed into.
    const QString beside = here + QStringLiteral("/" TESSEL_PLUGIN_DIR_FROM_BIN);
    if (!here.isEmpty() && QFileInfo(beside).isDir())
        return {QDir::cleanPath(beside)};
    return {QStringLiteral(TESSEL_INSTALL_PLUGIN_DIR)};
}

QList<LoadedPlugin> load(const QStringList& folders) {
    QList<LoadedPlugin> loaded;
    QSet<QString> kinds;
    for (const QString& folder : folders) {
        const QFileInfoList files =
            QDir(folder).entryInfoList({QStringLiteral("*.so")}, QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            QPluginLoader loader(file.absoluteFilePath());
            // Per-thread caches of a plug-in live in its code: it stays for the process's life.
            loader.setLoadHints(QLibrary::PreventUnloadHint);
            // The metadata is read without running the library's code.
            if (loader.metaData().value(QStringLiteral("IID")).toString() !=
                QLatin1StringView(TesselWidgetPlugin_iid)) {
                qWarning("tessel-widget-host: skipped %s: not a widget plug-in",
                         qPrintable(file.fileName()));
                continue;
            }
            auto* plugin = qobject_cast<widget::WidgetPlugin*>(loader.instance());
            if (!plugin) {
                qWarning("tessel-widget-host: skipped %s: %s", qPrintable(file.fileName()),
                         qPrintable(loader.errorString()));
                continue;
            }
            LoadedPlugin p{plugin, plugin->description(), file.absoluteFilePath()};
            if (p.description.kind.isEmpty() || kinds.contains(p.description.kind)) {
                qWarning("tessel-widget-host: skipped %s: kind already loaded",
                         qPrintable(file.fileName()));
                continue;
            }
            kinds.insert(p.description.kind);
            loaded.append(p);
        }
    }
    return loaded;
}

} // namespace tessel::host::Plugins
