#include "sync/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <climits>
#include <cmath>

#include <sys/stat.h>

#include "session/private_file.h"

namespace tessel {

namespace AppSettings {

QVariant Key::defaultValue() const {
    return std::visit(
        [](auto value) -> QVariant {
            if constexpr (std::is_same_v<decltype(value), std::string_view>)
                return QString::fromLatin1(value.data(), qsizetype(value.size()));
            else
                return value;
        },
        fallback);
}

QVariant Key::read(const QVariant& stored) const {
    if (!stored.isValid())
        return defaultValue();
    if (std::holds_alternative<bool>(fallback)) {
        const QString text = stored.toString().trimmed().toLower();
        if (text == u"true" || text == u"1" || text == u"yes" || text == u"on")
            return true;
        if (text == u"false" || text == u"0" || text == u"no" || text == u"off")
            return false;
        return defaultValue();
    }
    if (std::holds_alternative<int>(fallback)) {
        bool number = false;
        const double value = stored.toDouble(&number);
        if (!number)
            return defaultValue();
        // The same number whether it came from the file as text or from set().
        const bool whole = value >= INT_MIN && value <= INT_MAX && value == std::trunc(value);
        return whole ? QVariant(int(value)) : QVariant(value);
    }
    return stored.toString();
}

QString defaultPath() {
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QDir(config).filePath(QStringLiteral("%1/%2.ini").arg(organization, application));
}

} // namespace AppSettings

Settings::Settings(const QString& path, Follow follow, QObject* parent)
    : QObject(parent),
      file_(std::make_unique<QSettings>(path.isEmpty() ? AppSettings::defaultPath() : path,
                                        QSettings::IniFormat)) {
    for (const AppSettings::Key& key : AppSettings::keys)
        values_.insert(key.key(), key.read(file_->value(key.key())));
    if (follow == Follow::none)
        return;
    // The file is replaced by renaming, which ends a watch on the file: the folder is watched
    // too (and its parent while it does not exist yet).
    watcher_ = std::make_unique<QFileSystemWatcher>();
    connect(watcher_.get(), &QFileSystemWatcher::fileChanged, this, &Settings::reload);
    connect(watcher_.get(), &QFileSystemWatcher::directoryChanged, this, &Settings::reload);
    watch();
}

Settings::~Settings() = default;

QString Settings::path() const {
    return file_->fileName();
}

QVariant Settings::value(const AppSettings::Key& key) const {
    return values_.value(key.key(), key.defaultValue());
}

bool Settings::writable() const {
    return PrivateFile::prepare(file_->fileName());
}

bool Settings::set(std::initializer_list<std::pair<AppSettings::Key, QVariant>> values) {
    if (!PrivateFile::prepare(file_->fileName()))
        return false;
    QHash<QString, QVariant> before;
    for (const auto& [key, value] : values) {
        before.insert(key.key(), file_->value(key.key()));
        file_->setValue(key.key(), value);
    }
    file_->sync();
    // A file someone else made (by hand, a copied dotfile) is tightened as well.
    const bool tight = ::chmod(QFile::encodeName(file_->fileName()).constData(), 0600) == 0;
    if (file_->status() != QSettings::NoError || !tight) {
        // QSettings keeps a failed write in its cache and would read it back as stored, and the
        // watch would then hand it out: put back what the file holds.
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (it->isValid())
                file_->setValue(it.key(), *it);
            else
                file_->remove(it.key());
        }
        return false;
    }
    QHash<QString, QVariant> written = values_;
    for (const auto& [key, value] : values)
        written.insert(key.key(), key.read(value));
    take(written);
    return true;
}

// Our own writes land here too; they change nothing, since the values are already ours.
void Settings::reload() {
    watch();
    file_->sync(); // re-reads a file that changed on disk
    QHash<QString, QVariant> read;
    for (const AppSettings::Key& key : AppSettings::keys)
        read.insert(key.key(), key.read(file_->value(key.key())));
    take(read);
}

void Settings::take(const QHash<QString, QVariant>& values) {
    QStringList differing;
    for (const AppSettings::Key& key : AppSettings::keys) {
        const QString name = key.key();
        if (values_.value(name) != values.value(name))
            differing << name;
    }
    values_ = values;
    for (const QString& name : differing)
        emit changed(name);
}

void Settings::watch() {
    if (!watcher_)
        return;
    const QString file = file_->fileName();
    const QString dir = QFileInfo(file).absolutePath();
    QStringList paths;
    if (QFileInfo(file).isFile())
        paths << file;
    paths << (QFileInfo(dir).isDir() ? dir : QFileInfo(dir).absolutePath());
    const QStringList watched = watcher_->files() + watcher_->directories();
    for (const QString& path : paths) {
        if (!watched.contains(path) && QFileInfo::exists(path))
            watcher_->addPath(path);
    }
}

} // namespace tessel
