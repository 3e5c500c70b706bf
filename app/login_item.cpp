#include "app/login_item.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <unistd.h>

#include "session/autostart_entry.h"
#include "sync/app_support.h"

namespace tessel::LoginItem {

namespace {

[[noreturn]] void fail(const QString& reason) {
    throw Error(reason.toStdString());
}

} // namespace

QString entryPath() {
    return AutostartEntry::path(fileName);
}

void registerItem(const QString& program) {
    const QString path = entryPath();
    if (path.isEmpty())
        fail(QStringLiteral("找不到配置目录（未设置 HOME）。"));
    if (!AutostartEntry::usable(program))
        fail(QStringLiteral("无法确定程序的位置。"));
    const QString dir = QFileInfo(path).absolutePath();
    // 0600 file, 0700 folders whatever the umask: the entry names a program the session runs.
    try {
        AppSupport::makePrivateDirectory(dir);
    } catch (const std::system_error&) {
        fail(QStringLiteral("无法创建自动启动目录 %1。").arg(dir));
    }
    const QByteArray entry =
        AutostartEntry::text(QStringLiteral("Tessel Widget"),
                             QStringLiteral("在托盘中显示 Tessel Gateway 的额度"), program, false);
    try {
        AppSupport::writePrivateFile(path, entry);
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
