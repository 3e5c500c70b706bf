#include "host/host_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QSettings>

#include "session/autostart_entry.h"
#include "session/private_file.h"

namespace tessel::host::HostSettings {

namespace {

bool knownFamily(const QString& family) {
    return family == u"small" || family == u"medium" || family == u"large";
}

} // namespace

QString path() {
    const QString config = xdgConfigHome();
    return config.isEmpty() ? QString()
                            : config + QStringLiteral("/quorvane/tessel-widget-host.ini");
}

QList<PlacedWidget> load(const QString& path, QStringList* problems) {
    QList<PlacedWidget> widgets;
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return widgets;
    auto problem = [problems](const QString& text) {
        if (problems)
            problems->append(text);
    };
    QSettings settings(path, QSettings::IniFormat);
    const int size = settings.beginReadArray(QStringLiteral("widgets"));
    QSet<QString> ids;
    for (int i = 0; i < size; ++i) {
        if (widgets.size() == maxWidgets) {
            problem(QStringLiteral("more than %1 widgets; the rest are dropped").arg(maxWidgets));
            break;
        }
        settings.setArrayIndex(i);
        PlacedWidget w;
        w.id = settings.value(QStringLiteral("id")).toString().trimmed();
        w.kind = settings.value(QStringLiteral("kind")).toString();
        w.family = settings.value(QStringLiteral("family")).toString();
        bool okX = false, okY = false;
        const int x = settings.value(QStringLiteral("x")).toInt(&okX);
        const int y = settings.value(QStringLiteral("y")).toInt(&okY);
        w.position = QPoint(okX ? x : 0, okY ? y : 0);
        w.screen = settings.value(QStringLiteral("screen")).toString();
        const QJsonDocument config = QJsonDocument::fromJson(
            settings.value(QStringLiteral("configuration")).toString().toUtf8());
        w.configuration = config.object();
        if (w.id.isEmpty() || w.kind.isEmpty()) {
            problem(QStringLiteral("widget %1: no id or kind").arg(i + 1));
            continue;
        }
        if (!knownFamily(w.family)) {
            problem(QStringLiteral("widget %1: unknown family").arg(w.id));
            continue;
        }
        if (ids.contains(w.id)) {
            problem(QStringLiteral("widget %1: repeated id").arg(w.id));
            continue;
        }
        ids.insert(w.id);
        widgets.append(w);
    }
    settings.endArray();
    return widgets;
}

bool save(const QString& path, const QList<PlacedWidget>& widgets) {
    if (path.isEmpty() || !PrivateFile::prepare(path))
        return false;
    QSettings settings(path, QSettings::IniFormat);
    settings.clear();
    settings.setValue(QStringLiteral("version"), 1);
    settings.beginWriteArray(QStringLiteral("widgets"), int(widgets.size()));
    for (int i = 0; i < widgets.size(); ++i) {
        const PlacedWidget& w = widgets[i];
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("id"), w.id);
        settings.setValue(QStringLiteral("kind"), w.kind);
        settings.setValue(QStringLiteral("family"), w.family);
        settings.setValue(QStringLiteral("x"), w.position.x());
        settings.setValue(QStringLiteral("y"), w.position.y());
        settings.setValue(QStringLiteral("screen"), w.screen);
        settings.setValue(
            QStringLiteral("configuration"),
            QString::fromUtf8(QJsonDocument(w.configuration).toJson(QJsonDocument::Compact)));
    }
    settings.endArray();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace tessel::host::HostSettings
