// The application's own user defaults: one INI file, never the shared container. The table
// below is the only place that names a key; the service, the shell and tesselctl read and
// write through it.
#pragma once

#include <QSettings>
#include <QString>
#include <QVariant>

#include <array>
#include <memory>
#include <stdexcept>
#include <string_view>

namespace tessel::AppSettings {

inline constexpr char organization[] = "quorvane";
inline constexpr char application[] = "TesselWidget";

// One user default: its key in the file and the value that stands in while it is absent.
struct Key {
    std::string_view name;
    std::string_view fallback; // as written in the file; empty means "nothing"

    QString key() const { return QString::fromLatin1(name.data(), qsizetype(name.size())); }
    QVariant defaultValue() const;
};

// Empty: Endpoint::detect() at the moment it is read, never written back.
inline constexpr Key endpoint{"endpoint", ""};
// Seconds; 0, unreadable or absent mean 60, smaller values 30 (Schedule::intervalFrom).
inline constexpr Key interval{"interval", "60"};
inline constexpr Key showMenuBar{"showMenuBar", "true"};
inline constexpr Key appearance{"appearance", "system"}; // "system", "light" or "dark"
inline constexpr Key menuQuota{"menuQuota", ""};         // a Quota id; empty: the first quota
// A desktop notification when the menuQuota subscription runs low and when it is back.
inline constexpr Key notifyLowQuota{"notifyLowQuota", "false"};

inline constexpr std::array<Key, 6> keys{endpoint,   interval,  showMenuBar,
                                         appearance, menuQuota, notifyLowQuota};

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

// The stored value of `key`, else its default.
QVariant value(const QSettings& settings, const Key& key);

// Whether write() can succeed; makes the folders and an empty file as write() would (unlike
// QSettings::isWritable(), which makes the folders with the umask's modes).
bool writable(const QSettings& settings);

// Writes `values` and syncs, keeping the file 0600 and the folders it creates 0700 whatever
// the umask: the file names the gateway the key is sent to. A link to a regular file the user
// owns (a dotfile manager's) stays; its target is replaced. False when nothing could be saved.
bool write(QSettings& settings, std::initializer_list<std::pair<Key, QVariant>> values);

} // namespace tessel::AppSettings
