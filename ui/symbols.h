// Symbol names ("bird.fill", "arrow.clockwise", ...) the views use, each with the freedesktop
// icon names that stand for it and a drawing of our own for desktops whose theme has none.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>
#include <QStringList>

class QPainter;
class QWidget;

namespace tessel {

namespace Symbols {
// Every name the views use.
QStringList names();
bool known(const QString& name);
// Freedesktop icon names tried in order before our own drawing; empty when only ours fits.
QStringList themeNames(const QString& name);
// Vector icon, sharp at any size and device pixel ratio. A valid tint paints the whole glyph in
// that colour (theme icons included); otherwise our drawing and the theme's symbolic icon take
// the application palette's text colour. An unknown name gives a null icon.
QIcon icon(const QString& name, const QColor& tint = {});
// The same, untinted, in the text colour of `on`'s palette at each paint (selected items in the
// highlighted text colour), so it follows the palette of the window it is shown in.
QIcon icon(const QString& name, QWidget* on);
// Our own drawing of `name` on a 24 x 24 grid; false for an unknown name.
bool draw(const QString& name, QPainter& painter, const QColor& colour);
} // namespace Symbols

} // namespace tessel
