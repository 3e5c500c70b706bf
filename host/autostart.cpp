#include "host/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "session/autostart_entry.h"

namespace tessel::host::Autostart {

QString entryPath() {
    return AutostartEntry::path(fileName);
}

namespace {

QByteArray entryText(const QString& program) {
    return AutostartEntry::text(QStringLiteral("Tessel 桌面小组件"),
                                QStringLiteral("在桌面上显示 Tessel 小组件"), program, true);
}

} // namespace

bool starts(const QString& program) {
    QFile file(entryPath());
    const QByteArray wanted = entryText(program);
    // A file much larger than the entry cannot be it; a FIFO there must not block.
    return QFileInfo(file).isFile() && file.open(QIODevice::ReadOnly) &&
           file.read(wanted.size() + 1) == wanted;
}

bool set(bool on, const QString& program) {
    const QString path = entryPath();
    if (path.isEmpty())
        return false;
    if (!on)
        return !QFileInfo::exists(path) || QFile::remove(path);
    if (!AutostartEntry::usable(program))
        return false;
    // The entry's command runs at every login: private whatever the umask, like the login item.
    const QString folder = QFileInfo(path).absolutePath();
    const bool existed = QFileInfo::exists(folder);
    if (!QDir().mkpath(folder))
        return false;
    if (!existed)
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
    const QByteArray entry = entryText(program);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(entry);
    return file.commit();
}

} // namespace tessel::host::Autostart
