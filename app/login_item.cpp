#include "app/login_item.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

#include "storage/file_io.h"

namespace tessel::LoginItem {

namespace {

QString configHome() {
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (xdg.startsWith(u'/'))
        return xdg;
    const QString home = qEnvironmentVariable("HOME");
    return home.startsWith(u'/') ? home + QStringLiteral("/.config") : QString();
}

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

[[noreturn]] void fail(const QString& reason) {
    throw Error(reason.toStdString());
}

} // namespace

QString entryPath() {
    const QString config = configHome();
    return config.isEmpty() ? QString()
                            : config + QStringLiteral("/autostart/") + QLatin1StringView(fileName);
}

void registerItem(const QString& program) {
    const QString path = entryPath();
    if (path.isEmpty())
        fail(QStringLiteral("找不到配置目录（未设置 HOME）。"));
    if (program.isEmpty() || program.contains(u'\n') || program.contains(u'\r') ||
        program.contains(QChar(0)))
        fail(QStringLiteral("无法确定程序的位置。"));
    const QString dir = QFileInfo(path).absolutePath();
    // 0600 file, 0700 folders whatever the umask: the entry names a program the session runs.
    try {
        FileIO::makeDirectory(QFile::encodeName(dir).toStdString());
    } catch (const std::system_error&) {
        fail(QStringLiteral("无法创建自动启动目录 %1。").arg(dir));
    }
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=Tessel Widget\n"
                                         "Comment=在托盘中显示 Tessel Gateway 的额度\n"
                                         "Exec=%1\n"
                                         "Icon=net.quorvane.TesselWidget\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(quoted(program));
    try {
        FileIO::writeAtomically(QFile::encodeName(path).toStdString(),
                                entry.toUtf8().toStdString());
    } catch (const std::system_error& e) {
        fail(QStringLiteral("无法写入自动启动项：%1")
                 .arg(QString::fromLocal8Bit(e.code().message())));
    }
}

void unregisterItem() {
    const QString path = entryPath();
    if (path.isEmpty())
        fail(QStringLiteral("找不到配置目录（未设置 HOME）。"));
    const QByteArray native = QFile::encodeName(path);
    if (::unlink(native.constData()) != 0 && errno != ENOENT)
        fail(QStringLiteral("无法删除自动启动项：%1")
                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
}

Status status() {
    const QString path = entryPath();
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return Status::NotRegistered;
    // Only the keys of the main group count; later groups are desktop actions.
    bool inMain = false;
    bool enabled = true;
    for (const QByteArray& raw : file.read(1 << 20).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!inMain || eq < 0)
            continue;
        const QByteArray key = line.first(eq).trimmed();
        const QByteArray value = line.mid(eq + 1).trimmed();
        if (key == "Hidden" && value == "true")
            enabled = false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false")
            enabled = false;
    }
    return enabled ? Status::Enabled : Status::NotRegistered;
}

bool apply(bool on, const QString& program, QString& message) {
    try {
        if (on)
            registerItem(program);
        else
            unregisterItem();
        return on;
    } catch (const Error& error) {
        message = QString::fromUtf8(failurePrefix) + error.description();
        return status() == Status::Enabled;
    }
}

} // namespace tessel::LoginItem
