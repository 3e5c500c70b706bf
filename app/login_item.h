// Starting with the desktop session: an XDG autostart entry for this program.
#pragma once

#include <QString>

#include <stdexcept>

namespace tessel::LoginItem {

inline constexpr char fileName[] = "net.quorvane.TesselWidget.desktop";
inline constexpr char failurePrefix[] = "登录项设置失败：";

// The reason is a user-facing Chinese sentence.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    QString description() const { return QString::fromUtf8(what()); }
};

enum class Status { Enabled, NotRegistered };

// $XDG_CONFIG_HOME/autostart/<fileName> (else ~/.config/autostart/...); empty without a home.
QString entryPath();

// Writes the entry (atomically) so that the session starts `program`; throws Error.
void registerItem(const QString& program);
// Removes the entry; a missing one counts as done. Throws Error.
void unregisterItem();
// Enabled when the entry exists and neither hides nor disables itself.
Status status();

// What the settings switch does on a change to `on`: returns the switch's new state and sets
// `message` to "登录项设置失败：<reason>" on failure (else leaves it alone).
bool apply(bool on, const QString& program, QString& message);

} // namespace tessel::LoginItem
