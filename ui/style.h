// The mint and orange tints and the text styles the views share, resolved against a palette
// and the application font at the moment of the call.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace tessel {

namespace Style {
enum class Tint { Text, Secondary, Mint, Orange };

// Darker variants on light palettes, lighter on dark ones, so both keep their contrast.
QColor mint(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor color(Tint tint, const QPalette& palette);
bool isDark(const QPalette& palette);

// The desktop's nearest equivalents of the standard text styles, relative to the application
// font so that the user's font size setting scales all of them.
QFont headline();
QFont title2();
QFont subheadline();
QFont caption();
QFont caption2();
} // namespace Style

} // namespace tessel
