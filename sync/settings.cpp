#include "sync/settings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sys/stat.h>

#include "session/private_file.h"

namespace tessel::AppSettings {

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
    return PrivateFile::prepare(settings.fileName());
}

bool write(QSettings& settings, std::initializer_list<std::pair<Key, QVariant>> values) {
    if (!PrivateFile::prepare(settings.fileName()))
        return false;
    for (const auto& [key, value] : values)
        settings.setValue(key.key(), value);
    settings.sync();
    // A file someone else made (by hand, a copied dotfile) is tightened as well.
    const bool tight = ::chmod(QFile::encodeName(settings.fileName()).constData(), 0600) == 0;
    return settings.status() == QSettings::NoError && tight;
}

} // namespace tessel::AppSettings
