#pragma once

#include <QString>
#include <QWidget>

#include "ui/style.h"

namespace tessel {

// One symbol, one text line high, tint resolved against the current palette at paint time.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    explicit SymbolView(const QString& symbol, Style::Tint tint = Style::Tint::Text,
                        QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    Style::Tint tint() const { return tint_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    Style::Tint tint_;
};

} // namespace tessel
