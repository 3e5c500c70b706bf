#include "session/autostart_entry.h"

namespace tessel {

namespace {

// Exec= quoting of the desktop entry format: the program path in double quotes, with the four
// reserved characters escaped; "%" doubled so it is never read as a field code.
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
    // String values escape backslashes once more.
    return out.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

} // namespace

QString xdgConfigHome() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (xdg.startsWith(u'/'))
        return xdg;
    const QString home = qEnvironmentVariable("HOME");
    return home.startsWith(u'/') ? home + QStringLiteral("/.config") : QString();
}

namespace AutostartEntry {

QString path(const char* fileName) {
    const QString config = xdgConfigHome();
    return config.isEmpty() ? QString()
                            : config + QStringLiteral("/autostart/") + QLatin1StringView(fileName);
}

bool usable(const QString& program) {
    return !program.isEmpty() && !program.contains(u'\n') && !program.contains(u'\r') &&
           !program.contains(QChar(0));
}

QByteArray text(const QString& name, const QString& comment, const QString& program, bool hidden) {
    QString entry = QStringLiteral("[Desktop Entry]\n"
                                   "Type=Application\n"
                                   "Name=%1\n"
                                   "Comment=%2\n"
                                   "Exec=%3\n"
                                   "Icon=net.quorvane.TesselWidget\n"
                                   "Terminal=false\n")
                        .arg(name, comment, quoted(program));
    if (hidden)
        entry += QStringLiteral("NoDisplay=true\n");
    entry += QStringLiteral("X-GNOME-Autostart-enabled=true\n");
    return entry.toUtf8();
}

} // namespace AutostartEntry

} // namespace tessel
