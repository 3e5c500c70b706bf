#include "host/plugins.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QSet>

#include <sys/stat.h>
#include <unistd.h>

namespace tessel::host::Plugins {

namespace {

// What ssh asks of its files: owned by the user or root, writable by nobody else. Empty when
// `path` passes, else the reason.
QString distrust(const QByteArray& path, bool folder) {
    struct stat info {};
    if (::stat(path.constData(), &info) != 0)
        return QStringLiteral("cannot be examined");
    if (folder ? !S_ISDIR(info.st_mode) : !S_ISREG(info.st_mode))
        return folder ? QStringLiteral("not a folder") : QStringLiteral("not a regular file");
    if (info.st_uid != 0 && info.st_uid != ::geteuid())
        return QStringLiteral("owned by another user (uid %1)").arg(info.st_uid);
    // A sticky folder (/tmp) lets nobody else rename or remove what is not theirs.
    const bool sticky = folder && (info.st_mode & S_ISVTX);
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) && !sticky)
        return QStringLiteral("writable by group or others");
    return {};
}

// The folder and every folder above it: whoever may replace one of them chooses the code.
QString distrustFolder(const QString& canonical, QString& where) {
    QString dir = canonical;
    for (;;) {
        if (QString reason = distrust(QFile::encodeName(dir), true); !reason.isEmpty()) {
            where = dir;
            return reason;
        }
        if (dir == u"/")
            return {};
        dir = QFileInfo(dir).path();
    }
}

} // namespace

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
        // Relative to whatever folder the session happened to start us in.
        if (QDir::isRelativePath(folder)) {
            qWarning("tessel-widget-host: skipped plug-in folder %s: not an absolute path",
                     qPrintable(folder));
            continue;
        }
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        if (canonical.isEmpty())
            continue; // no such folder: nothing to load
        QString where;
        if (const QString reason = distrustFolder(canonical, where); !reason.isEmpty()) {
            qWarning("tessel-widget-host: skipped plug-in folder %s: %s is %s", qPrintable(folder),
                     qPrintable(where), qPrintable(reason));
            continue;
        }
        // Filtered here: a name filter would load the regular-expression engine for one
        // suffix (a name filter ignores case as well).
        const QFileInfoList files = QDir(canonical).entryInfoList(QDir::Files, QDir::Name);
        for (const QFileInfo& file : files) {
            if (!file.fileName().endsWith(QLatin1StringView(".so"), Qt::CaseInsensitive))
                continue;
            // A link may lead elsewhere: what is checked is what gets loaded.
            const QString real = file.canonicalFilePath();
            QString reason = real.isEmpty() ? QStringLiteral("cannot be examined")
                                            : distrust(QFile::encodeName(real), false);
            if (reason.isEmpty() && QFileInfo(real).path() != canonical)
                reason = distrustFolder(QFileInfo(real).path(), where);
            if (!reason.isEmpty()) {
                qWarning("tessel-widget-host: skipped %s: %s", qPrintable(file.absoluteFilePath()),
                         qPrintable(reason));
                continue;
            }
            QPluginLoader loader(real);
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
