#include "sync/settings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

#include "storage/file_io.h"

namespace tessel::AppSettings {

namespace {

// QSettings replaces the file through QSaveFile, which keeps the mode of the file it
// replaces; a new file would take 0666 minus the umask.
bool prepare(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    const std::filesystem::path folder = std::filesystem::path(native.toStdString()).parent_path();
    try {
        FileIO::makeDirectory(folder);
    } catch (const std::system_error&) {
        return false;
    }
    // The folder is the application's own (unlike ~/.config above it): one an older build made
    // under a lax umask is tightened too.
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0 && info.st_uid == ::geteuid() &&
        (info.st_mode & 07777) != 0700)
        ::chmod(folder.c_str(), 0700);
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

} // namespace

QVariant Key::defaultValue() const {
    if (fallback.empty())
        return QString();
    if (fallback == "true" || fallback == "false")
        return fallback == "true";
    bool number = false;
    const QString text = QString::fromLatin1(fallback.data(), qsizetype(fallback.size()));
    const int n = text.toInt(&number);
    return number ? QVariant(n) : QVariant(text);
}

QString defaultPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("%1/%2.ini").arg(organization, application));
}

std::unique_ptr<QSettings> open(const QString& path) {
    return std::make_unique<QSettings>(path.isEmpty() ? defaultPath() : path, QSettings::IniFormat);
}

QVariant value(const QSettings& settings, const Key& key) {
    return settings.value(key.key(), key.defaultValue());
}

bool writable(const QSettings& settings) {
    return prepare(settings.fileName());
}

bool write(QSettings& settings, std::initializer_list<std::pair<Key, QVariant>> values) {
    if (!prepare(settings.fileName()))
        return false;
    for (const auto& [key, value] : values)
        settings.setValue(key.key(), value);
    settings.sync();
    // A file someone else made (by hand, an older build) is tightened as well.
    const bool tight = ::chmod(QFile::encodeName(settings.fileName()).constData(), 0600) == 0;
    return settings.status() == QSettings::NoError && tight;
}

} // namespace tessel::AppSettings
