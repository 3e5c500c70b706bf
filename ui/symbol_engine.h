// Paints one symbol at any size: the desktop theme's icon where the theme has one, else our own
// vector drawing, in a tint or the palette's text colour.
#pragma once

#include <QColor>
#include <QIconEngine>
#include <QString>

namespace tessel {

class SymbolEngine : public QIconEngine {
public:
    SymbolEngine(QString name, QColor tint) : name_(std::move(name)), tint_(std::move(tint)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override { return new SymbolEngine(name_, tint_); }
    QString key() const override { return QStringLiteral("tessel-symbol"); }
    QString iconName() override { return name_; }
    bool isNull() override { return false; }

private:
    QString name_;
    QColor tint_;
};

} // namespace tessel
