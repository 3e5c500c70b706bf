// XDG locations and autostart entries, shared by the application and the widget host so that
// both find the configuration folder and quote their program the same way.
#pragma once

#include <QByteArray>
#include <QString>

namespace tessel {

// $XDG_CONFIG_HOME when absolute, else $HOME/.config; empty when neither gives a directory.
QString xdgConfigHome();

namespace AutostartEntry {

// <config home>/autostart/<fileName>; empty without a configuration directory.
QString path(const char* fileName);

// Whether `program` can stand in an Exec= line (not empty, no line break, no NUL).
bool usable(const QString& program);

// The entry that makes the session start `program`; `hidden` keeps it out of menus.
QByteArray text(const QString& name, const QString& comment, const QString& program, bool hidden);

} // namespace AutostartEntry

} // namespace tessel
