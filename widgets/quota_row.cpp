#include "widgets/quota_row.h"

#include <QBoxLayout>

#include <cmath>

#include "widgets/widget_parts.h"
#include "widgets/widget_text.h"

namespace tessel {

using Style::Tint;

const QuotaWindow* firstWindow(const Quota& quota) {
    return quota.windows && !quota.windows->empty() ? &quota.windows->front() : nullptr;
}

QuotaRowView::QuotaRowView(const Quota& quota, const WidgetPreferences& preferences, bool spacious,
                           int valueWidth, QWidget* parent)
    : QWidget(parent) {
    const QuotaWindow* first = firstWindow(quota);
    auto* lines = vbox(spacious ? 4 : 2);
    setLayout(lines);
    auto label = [&](QBoxLayout* into, const QString& shown, const QFont& font, Tint tint,
                     qreal scale = 1.0) {
        auto* l = new FitLabel(shown, font, tint, scale);
        into->addWidget(l);
        texts_ << shown;
        return l;
    };

    auto* titleLine = hbox(8);
    FitLabel* title = label(titleLine, QString::fromStdString(quota.title()),
                            widgetFont(spacious ? 13 : 11, QFont::DemiBold), Tint::Text, 0.8);
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    titleLine->setStretchFactor(title, 1);
    FitLabel* value = label(
        titleLine, QString::fromStdString(quota.balance.value_or(WidgetText::remaining(first))),
        widgetFont(spacious ? 17 : 13, QFont::DemiBold), Tint::Text);
    value->setAlignment(Qt::AlignRight);
    value->setMaximumWidth(valueWidth);
    value->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    lines->addLayout(titleLine);

    auto* detail = hbox(4);
    const QFont small = widgetFont(spacious ? 9 : 8);
    bool anyDetail = false;
    if (preferences.showWindowName) {
        FitLabel* name = label(detail,
                               first ? QString::fromStdString(first->name)
                                     : QString::fromStdString(quota.measurementState()),
                               small, Tint::Secondary);
        name->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
        detail->setStretchFactor(name, 1);
        if (quota.windows && quota.windows->size() >= 2)
            keepWidth(label(detail, QStringLiteral("+%1").arg(quota.windows->size() - 1), small,
                            Tint::Secondary),
                      1.0);
        anyDetail = true;
    } else {
        detail->addStretch(1);
    }
    if (quota.error) {
        keepWidth(label(detail, QStringLiteral("暂不可用"), small, Tint::Orange), 1.0);
        anyDetail = true;
    } else if (preferences.showReset && first && first->resetsAt) {
        keepWidth(label(detail,
                        QString::fromStdString(WidgetText::reset(*first->resetsAt)) +
                            QStringLiteral(" 重置"),
                        small, Tint::Secondary),
                  0.8);
        anyDetail = true;
    }
    if (anyDetail)
        lines->addLayout(detail);
    else
        delete detail;

    if (first && !first->unlimited.value_or(false) && (first->remaining || first->used)) {
        double share = first->remaining ? *first->remaining : 100.0 - *first->used;
        if (!first->remaining && (std::isnan(share) || share < 0))
            share = 0;
        lines->addWidget(new ShareBar(share));
    }

    setAccessibleName(texts_.join(QStringLiteral("，")));
}

} // namespace tessel
