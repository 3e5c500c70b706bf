// The shell's settings (showMenuBar, appearance, menuQuota, notifyLowQuota), typed for the
// tray and the windows, read and written through the application's one Settings object: a
// change made by any view or another process reaches them all through its watch.
#pragma once

#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QString>

#include <optional>

#include "sync/settings.h"

namespace tessel {

class ShellSettings : public QObject {
    Q_OBJECT
public:
    enum class Appearance { System, Light, Dark };

    // Over the application's settings (the sync service's).
    explicit ShellSettings(Settings* settings, QObject* parent = nullptr);
    // Over a Settings of its own for `path`; empty means AppSettings::defaultPath().
    explicit ShellSettings(const QString& path = {}, QObject* parent = nullptr);

    bool showMenuBar() const;
    QString appearanceText() const;
    // "dark" and "light"; any other text follows the desktop.
    Appearance appearance() const;
    QString menuQuota() const;
    bool notifyLowQuota() const;

    // False when the settings file could not take the value; nothing changed then.
    bool setShowMenuBar(bool show);
    bool setAppearance(const QString& appearance);
    bool setMenuQuota(const QString& id);
    bool setNotifyLowQuota(bool notify);

    // Reads the file again; emits changed() when a value differs.
    void reload();

    // The palette a window takes for an appearance; nullopt means the desktop's own.
    static std::optional<QPalette> palette(Appearance appearance);

signals:
    void changed();

private:
    QVariant value(const AppSettings::Key& key) const;
    bool set(const AppSettings::Key& key, const QVariant& value);

    // The service's, which may end before the windows that hold this.
    QPointer<Settings> settings_;
};

} // namespace tessel
