#include "app/shell_settings.h"

#include <QColor>
#include <QFileInfo>
#include <QSettings>

#include "sync/settings.h"

namespace tessel {

ShellSettings::ShellSettings(const QString& path, QObject* parent)
    : QObject(parent), path_(path.isEmpty() ? AppSettings::defaultPath() : path) {
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &ShellSettings::reload);
    // QSettings replaces the file by renaming, which drops the watch on the file itself.
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &ShellSettings::reload);
    reload();
}

ShellSettings::Appearance ShellSettings::appearance() const {
    if (appearance_ == u"dark")
        return Appearance::Dark;
    if (appearance_ == u"light")
        return Appearance::Light;
    return Appearance::System;
}

void ShellSettings::reload() {
    const auto settings = AppSettings::open(path_);
    const QVariant show = settings->value(AppSettings::showMenuBar.key());
    // A value that is no flag at all counts as the default rather than as "off".
    bool showMenuBar = AppSettings::showMenuBar.defaultValue().toBool();
    if (show.isValid()) {
        const QString text = show.toString().trimmed().toLower();
        showMenuBar = !(text == u"false" || text == u"0" || text == u"no" || text == u"off");
    }
    const QString appearance = AppSettings::value(*settings, AppSettings::appearance).toString();
    const QString menuQuota = AppSettings::value(*settings, AppSettings::menuQuota).toString();
    const bool notify = AppSettings::value(*settings, AppSettings::notifyLowQuota).toBool();
    watch();
    if (showMenuBar == showMenuBar_ && appearance == appearance_ && menuQuota == menuQuota_ &&
        notify == notifyLowQuota_)
        return;
    showMenuBar_ = showMenuBar;
    appearance_ = appearance;
    menuQuota_ = menuQuota;
    notifyLowQuota_ = notify;
    emit changed();
}

void ShellSettings::watch() {
    const QString dir = QFileInfo(path_).absolutePath();
    if (QFileInfo(dir).isDir() && !watcher_.directories().contains(dir))
        watcher_.addPath(dir);
    if (QFileInfo(path_).isFile() && !watcher_.files().contains(path_))
        watcher_.addPath(path_);
}

void ShellSettings::write(const AppSettings::Key& key, const QVariant& value) {
    AppSettings::write(*AppSettings::open(path_), {{key, value}});
    reload();
}

void ShellSettings::setShowMenuBar(bool show) {
    write(AppSettings::showMenuBar, show);
}
void ShellSettings::setAppearance(const QString& appearance) {
    write(AppSettings::appearance, appearance);
}
void ShellSettings::setMenuQuota(const QString& id) {
    write(AppSettings::menuQuota, id);
}
void ShellSettings::setNotifyLowQuota(bool notify) {
    write(AppSettings::notifyLowQuota, notify);
}

std::optional<QPalette> ShellSettings::palette(Appearance appearance) {
    if (appearance == Appearance::System)
        return std::nullopt;
    const bool dark = appearance == Appearance::Dark;
    const QColor window = dark ? QColor(0x2b, 0x2b, 0x2e) : QColor(0xf4, 0xf4, 0xf5);
    const QColor base = dark ? QColor(0x1f, 0x1f, 0x22) : QColor(0xff, 0xff, 0xff);
    const QColor text = dark ? QColor(0xec, 0xec, 0xee) : QColor(0x1d, 0x1d, 0x1f);
    const QColor button = dark ? QColor(0x3a, 0x3a, 0x3e) : QColor(0xe9, 0xe9, 0xeb);
    const QColor disabled = dark ? QColor(0x80, 0x80, 0x86) : QColor(0x9a, 0x9a, 0xa0);
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Highlight, QColor(0x17, 0xa5, 0x8c));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, button.lighter(130));
    p.setColor(QPalette::Midlight, button.lighter(115));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Link, dark ? QColor(0x5c, 0xd6, 0xc0) : QColor(0x0f, 0x7a, 0x68));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    return p;
}

} // namespace tessel
