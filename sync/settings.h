// The application's own user defaults ("endpoint", "interval", "showMenuBar", "appearance",
// "menuQuota"): one INI file, never the shared container.
#pragma once

#include <QSettings>
#include <QString>

#include <memory>
#include <stdexcept>

namespace tessel::AppSettings {

inline constexpr char organization[] = "quorvane";
inline constexpr char application[] = "TesselWidget";

// The settings file cannot be written; configure() refuses before it changes anything.
class SettingsError : public std::runtime_error {
public:
    SettingsError() : std::runtime_error("无法保存设置，请检查配置目录的写入权限。") {}
};

// $XDG_CONFIG_HOME/quorvane/TesselWidget.ini (else ~/.config/...), read from the environment
// at every call so that a changed XDG_CONFIG_HOME is honoured.
QString defaultPath();

// The application's settings; an empty `path` means defaultPath(). INI format, UTF-8.
std::unique_ptr<QSettings> open(const QString& path = {});

} // namespace tessel::AppSettings
