#include "sync/settings.h"

#include <QDir>
#include <QStandardPaths>

namespace tessel::AppSettings {

QString defaultPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("%1/%2.ini").arg(organization, application));
}

std::unique_ptr<QSettings> open(const QString& path) {
    return std::make_unique<QSettings>(path.isEmpty() ? defaultPath() : path, QSettings::IniFormat);
}

} // namespace tessel::AppSettings
