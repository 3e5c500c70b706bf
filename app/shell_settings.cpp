#include "app/shell_settings.h"

#include <QColor>

#include "sync/settings.h"

namespace tessel {

ShellSettings::ShellSettings(Settings* settings, QObject* parent)
    : QObject(parent), settings_(settings) {
    connect(settings_, &Settings::changed, this, [this](const QString& key) {
        for (const AppSettings::Key& shell : {AppSettings::showMenuBar, AppSettings::appearance,
                                              AppSettings::menuQuota, AppSettings::notifyLowQuota})
            if (key == shell.key())
                emit changed();
    });
}

ShellSettings::ShellSettings(const QString& path, QObject* parent)
    : ShellSettings(new Settings(path), parent) {
    settings_->setParent(this);
}

QVariant ShellSettings::value(const AppSettings::Key& key) const {
    return settings_ ? settings_->value(key) : key.defaultValue();
}

bool ShellSettings::set(const AppSettings::Key& key, const QVariant& value) {
    return settings_ && settings_->set(key, value);
}

bool ShellSettings::showMenuBar() const {
    return value(AppSettings::showMenuBar).toBool();
}
QString ShellSettings::appearanceText() const {
    return value(AppSettings::appearance).toString();
}
QString ShellSettings::menuQuota() const {
    return value(AppSettings::menuQuota).toString();
}
bool ShellSettings::notifyLowQuota() const {
    return value(AppSettings::notifyLowQuota).toBool();
}

ShellSettings::Appearance ShellSettings::appearance() const {
    const QString text = appearanceText();
    if (text == u"dark")
        return Appearance::Dark;
    if (text == u"light")
        return Appearance::Light;
    return Appearance::System;
}

void ShellSettings::reload() {
    if (settings_)
        settings_->reload();
}

bool ShellSettings::setShowMenuBar(bool show) {
    return set(AppSettings::showMenuBar, show);
}
bool ShellSettings::setAppearance(const QString& appearance) {
    return set(AppSettings::appearance, appearance);
}
bool ShellSettings::setMenuQuota(const QString& id) {
    return set(AppSettings::menuQuota, id);
}
bool ShellSettings::setNotifyLowQuota(bool notify) {
    return set(AppSettings::notifyLowQuota, notify);
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
