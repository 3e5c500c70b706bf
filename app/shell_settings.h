// The shell's user defaults (showMenuBar, appearance, menuQuota), in the same INI file as the
// sync service's. Changes written by any view (or another process) are noticed through a
// file watch, so the tray and the dashboard follow them at once.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QPalette>
#include <QString>

#include <optional>

#include "sync/settings.h"

namespace tessel {

class ShellSettings : public QObject {
    Q_OBJECT
public:
    enum class Appearance { System, Light, Dark };

    // An empty path means AppSettings::defaultPath().
    explicit ShellSettings(const QString& path = {}, QObject* parent = nullptr);

    QString path() const { return path_; }
    bool showMenuBar() const { return showMenuBar_; }
    QString appearanceText() const { return appearance_; }
    // "dark" and "light"; any other text follows the desktop.
    Appearance appearance() const;
    QString menuQuota() const { return menuQuota_; }
    bool notifyLowQuota() const { return notifyLowQuota_; }

    void setShowMenuBar(bool show);
    void setAppearance(const QString& appearance);
    void setMenuQuota(const QString& id);
    void setNotifyLowQuota(bool notify);

    // Reads the file again; emits changed() when a value differs.
    void reload();

    // The palette a window takes for an appearance; nullopt means the desktop's own.
    static std::optional<QPalette> palette(Appearance appearance);

signals:
    void changed();

private:
    void write(const AppSettings::Key& key, const QVariant& value);
    void watch();

    QString path_;
    bool showMenuBar_ = true;
    QString appearance_ = AppSettings::appearance.defaultValue().toString();
    QString menuQuota_;
    bool notifyLowQuota_ = false;
    QFileSystemWatcher watcher_;
};

} // namespace tessel
