// Paints one symbol at any size: the desktop theme's icon where the theme has one, else our own
// vector drawing, in a tint or the text colour of the palette it is drawn on.
#pragma once

#include <QColor>
#include <QIconEngine>
#include <QPointer>
#include <QString>
#include <QWidget>

namespace tessel {

class SymbolEngine : public QIconEngine {
public:
    // Without a tint the glyph takes the text colour of the widget painted on, else of `on`
    // (styles paint icons through pixmaps, which know no widget), else of the application.
    SymbolEngine(QString name, QColor tint, QWidget* on = nullptr)
        : name_(std::move(name)), tint_(std::move(tint)), on_(on) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override { return new SymbolEngine(name_, tint_, on_); }
    QString key() const override { return QStringLiteral("tessel-symbol"); }
    // The freedesktop name the icon theme draws this symbol with, for those who load icons by
    // name (a tray's menu exported over D-Bus); empty when only our drawing or a tint fits.
    QString iconName() override;
    bool isNull() override { return false; }

private:
    QColor colour(const QPainter* painter, QIcon::Mode mode) const;

    QString name_;
    QColor tint_;
    QPointer<QWidget> on_;
};

} // namespace tessel
