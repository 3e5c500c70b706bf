#include "host/host_settings.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSet>
#include <QSettings>

#include <algorithm>

#include "session/autostart_entry.h"
#include "session/private_file.h"

namespace tessel::host::HostSettings {

namespace {

// Dropped records beyond these are counted in one line: a damaged file must not flood the log.
constexpr int problemLines = 5;

// The array's indices present in the file, in order; `size` alone could claim billions.
QList<int> presentIndices(QSettings& settings, int size) {
    QList<int> indices;
    settings.beginGroup(QStringLiteral("widgets"));
    for (const QString& group : settings.childGroups()) {
        bool ok = false;
        const int index = group.toInt(&ok);
        if (ok && index >= 1 && index <= size && group == QString::number(index))
            indices.append(index);
    }
    settings.endGroup();
    std::sort(indices.begin(), indices.end());
    return indices;
}

} // namespace

QString path() {
    const QString config = xdgConfigHome();
    return config.isEmpty() ? QString()
                            : config + QStringLiteral("/quorvane/tessel-widget-host.ini");
}

QList<PlacedWidget> load(const QString& path, QStringList* problems) {
    QList<PlacedWidget> widgets;
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile())
        return widgets;
    int dropped = 0;
    auto problem = [problems, &dropped](const QString& text) {
        if (problems && ++dropped <= problemLines)
            problems->append(text);
    };
    if (info.size() > maxFileBytes) {
        problem(QStringLiteral("larger than %1 bytes; not read").arg(maxFileBytes));
        return widgets;
    }
    QSettings settings(path, QSettings::IniFormat);
    const int size = settings.beginReadArray(QStringLiteral("widgets"));
    settings.endArray();
    const QList<int> indices = presentIndices(settings, size);
    settings.beginReadArray(QStringLiteral("widgets"));
    QSet<QString> ids;
    bool full = false;
    for (const int index : indices) {
        if (widgets.size() == maxWidgets) {
            full = true;
            break;
        }
        settings.setArrayIndex(index - 1);
        PlacedWidget w;
        w.id = settings.value(QStringLiteral("id")).toString().trimmed();
        w.kind = settings.value(QStringLiteral("kind")).toString();
        bool okX = false, okY = false;
        const int x = settings.value(QStringLiteral("x")).toInt(&okX);
        const int y = settings.value(QStringLiteral("y")).toInt(&okY);
        w.position = QPoint(okX ? x : 0, okY ? y : 0);
        w.screen = settings.value(QStringLiteral("screen")).toString();
        const QJsonDocument config = QJsonDocument::fromJson(
            settings.value(QStringLiteral("configuration")).toString().toUtf8());
        w.configuration = config.object();
        if (w.id.isEmpty() || w.kind.isEmpty()) {
            problem(QStringLiteral("widget %1: no id or kind").arg(index));
            continue;
        }
        const auto family =
            widget::familyFromName(settings.value(QStringLiteral("family")).toString());
        if (!family) {
            problem(QStringLiteral("widget %1: unknown family").arg(w.id.left(64)));
            continue;
        }
        w.family = *family;
        if (ids.contains(w.id)) {
            problem(QStringLiteral("widget %1: repeated id").arg(w.id.left(64)));
            continue;
        }
        ids.insert(w.id);
        widgets.append(w);
    }
    settings.endArray();
    if (problems && dropped > problemLines)
        problems->append(QStringLiteral("%1 more records dropped").arg(dropped - problemLines));
    if (full && problems)
        problems->append(
            QStringLiteral("more than %1 widgets; the rest are dropped").arg(maxWidgets));
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
        settings.setValue(QStringLiteral("family"), widget::familyName(w.family));
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
