#include "app/dashboard/metric_tile.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/style.h"
#include "ui/symbol_view.h"
#include "ui/text_label.h"

namespace tessel {

FittedValue::FittedValue(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setFont(fontAt(fullPixelSize));
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    setAccessibleName(text);
}

QFont FittedValue::fontAt(int pixelSize) const {
    QFont f = font();
    f.setPixelSize(pixelSize);
    f.setWeight(QFont::DemiBold);
    return f;
}

QFont FittedValue::fittedFont() const {
    // Largest size from full down to half at which the text fits; half size when none does.
    const int available = contentsRect().width();
    for (int size = fullPixelSize; size > fullPixelSize / 2; --size) {
        const QFont f = fontAt(size);
        if (QFontMetrics(f).horizontalAdvance(text()) <= available)
            return f;
    }
    return fontAt(fullPixelSize / 2);
}

bool FittedValue::isElided() const {
    return QFontMetrics(fittedFont()).horizontalAdvance(text()) > contentsRect().width();
}

QSize FittedValue::sizeHint() const {
    const QFontMetrics metrics(fontAt(fullPixelSize));
    return {metrics.horizontalAdvance(text()), metrics.height()};
}

QSize FittedValue::minimumSizeHint() const {
    return {0, QFontMetrics(fontAt(fullPixelSize)).height()};
}

void FittedValue::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QFont f = fittedFont();
    painter.setFont(f);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    const QString shown = QFontMetrics(f).elidedText(text(), Qt::ElideRight, area.width());
    painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, shown);
}

MetricTile::MetricTile(const QString& title, const QString& value, const QString& symbol,
                       QWidget* parent)
    : Surface(Fill::Quaternary, 0.45, 18, parent), symbol_(symbol) {
    setObjectName(QStringLiteral("tile"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(12);

    auto* caption = new QHBoxLayout;
    caption->setSpacing(6);
    auto* icon = new SymbolView(symbol, Style::Tint::Secondary);
    title_ = new TextLabel(title);
    title_->setFont(Style::caption());
    title_->setTint(Style::Tint::Secondary);
    caption->addWidget(icon);
    caption->addWidget(title_, 1);
    stack->addLayout(caption);

    value_ = new FittedValue(value);
    value_->setObjectName(QStringLiteral("value"));
    value_->setAccessibleDescription(title);
    stack->addWidget(value_);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QString MetricTile::title() const {
    return title_->text();
}

void MetricTile::setValue(const QString& value) {
    value_->setText(value);
    value_->setAccessibleName(value);
    value_->updateGeometry();
    value_->update();
}

} // namespace tessel
