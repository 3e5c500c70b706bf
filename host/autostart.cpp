#include "host/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tessel::host::Autostart {

namespace {

// Exec= quoting of the desktop entry format, then the escaping of string values.
QString quoted(const QString& program) {
    QString out = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            out += u'\\';
        out += c;
        if (c == u'%')
            out += u'%';
    }
    out += u'"';
    return out.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

} // namespace

QString entryPath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!config.startsWith(u'/')) {
        const QString home = qEnvironmentVariable("HOME");
        if (!home.startsWith(u'/'))
            return {};
        config = home + QStringLiteral("/.config");
    }
    return config + QStringLiteral("/autostart/") + QLatin1StringView(fileName);
}

bool set(bool on, const QString& program) {
    const QString path = entryPath();
    if (path.isEmpty())
        return false;
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (program.isEmpty() || program.contains(u'\n') || program.contains(u'\r'))
        return false;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tessel 桌面小组件\n"
                                         "Comment=在桌面上显示 Tessel 小组件\n"
                                         "Exec=%1\n"
                                         "Icon=net.quorvane.TesselWidget\n"
                                         "Terminal=false\n"
                                         "NoDisplay=true\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoted(program));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(entry.toUtf8());
    return file.commit();
}

} // namespace tessel::host::Autostart
