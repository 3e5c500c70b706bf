// The application's own settings: one INI file, never the shared container, owned by one
// Settings object. The table below is the only place that names a key; the service, the
// windows and tesselctl read and write through it, and a new setting is one row.
#pragma once

#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariant>

#include <array>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <variant>

class QSettings;

namespace tessel {

namespace AppSettings {

inline constexpr char organization[] = "quorvane";
inline constexpr char application[] = "TesselWidget";

// One setting: its key in the file and the value that stands in while it is absent. The
// default's type is the setting's type.
struct Key {
    std::string_view name;
    std::variant<bool, int, std::string_view> fallback;

    QString key() const { return QString::fromLatin1(name.data(), qsizetype(name.size())); }
    QVariant defaultValue() const;
    // What a value read from the file means: the default when absent or not of the key's type
    // (the file is hand-editable). A number is handed on as written, for its reader to clamp.
    QVariant read(const QVariant& stored) const;
};

// Empty: Endpoint::detect() at the moment it is read, never written back.
inline constexpr Key endpoint{"endpoint", std::string_view()};
// Seconds; 0, unreadable or absent mean 60, smaller values 30 (Schedule::intervalFrom).
inline constexpr Key interval{"interval", 60};
inline constexpr Key showMenuBar{"showMenuBar", true};
inline constexpr Key appearance{"appearance", std::string_view("system")}; // or "light", "dark"
inline constexpr Key menuQuota{"menuQuota", std::string_view()}; // a Quota id; empty: the first
// A desktop notification when the menuQuota subscription runs low and when it is back.
inline constexpr Key notifyLowQuota{"notifyLowQuota", false};

inline constexpr std::array<Key, 6> keys{endpoint,   interval,  showMenuBar,
                                         appearance, menuQuota, notifyLowQuota};

// The settings file cannot be written; nothing was changed.
class SettingsError : public std::runtime_error {
public:
    SettingsError() : std::runtime_error("无法保存设置，请检查配置目录的写入权限。") {}
};

// $XDG_CONFIG_HOME/quorvane/TesselWidget.ini (else ~/.config/...), read from the environment
// at every call so that a changed XDG_CONFIG_HOME is honoured.
QString defaultPath();

} // namespace AppSettings

// The settings file of a process: the values of the table, and changes made by others
// (tesselctl, an editor) followed through a watch on the file and its folder.
class Settings : public QObject {
    Q_OBJECT
public:
    // Whether changes made by others are followed: a one-shot reader (tesselctl) has no event
    // loop to hear them.
    enum class Follow { changes, none };

    // An empty `path` means AppSettings::defaultPath(). INI format, UTF-8.
    explicit Settings(const QString& path = {}, Follow follow = Follow::changes,
                      QObject* parent = nullptr);
    ~Settings() override;

    QString path() const;
    // The value of `key` as last read or written, else its default.
    QVariant value(const AppSettings::Key& key) const;

    // Whether set() can succeed; makes the folders and an empty file as set() would (unlike
    // QSettings::isWritable(), which makes the folders with the umask's modes).
    bool writable() const;
    // Writes `values` and syncs, keeping the file 0600 and the folders it creates 0700 whatever
    // the umask: the file names the gateway the key is sent to. A link to a regular file the
    // user owns (a dotfile manager's) stays; its target is replaced. False when nothing could be
    // saved; then the values in effect are the file's as before.
    bool set(std::initializer_list<std::pair<AppSettings::Key, QVariant>> values);
    bool set(const AppSettings::Key& key, const QVariant& value) { return set({{key, value}}); }

    // Reads the file again (the watch does this on its own); changed() for every key whose
    // value differs.
    void reload();

signals:
    // After all values are current, once per key.
    void changed(const QString& key);

private:
    void watch();
    void take(const QHash<QString, QVariant>& values);

    std::unique_ptr<QSettings> file_;
    QHash<QString, QVariant> values_;
    std::unique_ptr<QFileSystemWatcher> watcher_;
};

} // namespace tessel
