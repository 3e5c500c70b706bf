#include "app/settings/form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>

#include "app/wheel_guard.h"
#include "ui/style.h"
#include "ui/text_label.h"

namespace tessel::Form {

QFormLayout* section(QLayout* page, const QString& title, const QString& objectName) {
    auto* box = new QGroupBox(title);
    box->setObjectName(objectName);
    box->setAccessibleName(title);
    auto* form = new QFormLayout(box);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    page->addWidget(box);
    return form;
}

QComboBox* picker(QFormLayout* form, const QString& label, const Options& options,
                  const QString& objectName) {
    auto* combo = new QComboBox;
    combo->setObjectName(objectName);
    combo->setAccessibleName(label);
    // Long subscription names must not decide the form's width.
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(8);
    // The forms scroll: the wheel is the page's unless the picker has the focus.
    WheelGuard::install(combo);
    for (const auto& [text, value] : options)
        combo->addItem(text, value);
    form->addRow(label, combo);
    return combo;
}

QCheckBox* toggle(QFormLayout* form, const QString& label, const QString& objectName) {
    auto* box = new QCheckBox(label);
    box->setObjectName(objectName);
    box->setAccessibleName(label);
    form->addRow(box);
    return box;
}

void button(QFormLayout* form, QWidget* button, bool underFields) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(button);
    layout->addStretch(1);
    if (underFields)
        form->addRow(QString(), row);
    else
        form->addRow(row);
}

TextLabel* note(const QString& text, const QString& objectName) {
    auto* label = new TextLabel(text, 8);
    label->setObjectName(objectName);
    label->setAccessibleName(text);
    label->setFont(Style::caption());
    label->setTint(Style::Tint::Secondary);
    return label;
}

void alignLabels(QWidget* root) {
    QList<QWidget*> labels;
    int width = 0;
    for (QFormLayout* form : root->findChildren<QFormLayout*>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole);
            if (!item || !item->widget())
                continue;
            labels << item->widget();
            width = std::max(width, item->widget()->sizeHint().width());
        }
    }
    for (QWidget* label : labels)
        label->setMinimumWidth(width);
}

void select(QComboBox* picker, const QVariant& value) {
    const QSignalBlocker quiet(picker);
    picker->setCurrentIndex(picker->findData(value));
}

} // namespace tessel::Form
