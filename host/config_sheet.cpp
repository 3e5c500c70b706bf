#include "host/config_sheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace tessel::host {

namespace {

QLabel* title(const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text);
    label->setBuddy(buddy);
    buddy->setAccessibleName(text);
    return label;
}

} // namespace

ConfigSheet::ConfigSheet(const LoadedPlugin& plugin, const QString& widgetId,
                         const QJsonObject& configuration, QWidget* parent)
    : QWidget(parent, Qt::Dialog), plugin_(plugin), id_(widgetId), configuration_(configuration) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(plugin.description.configurationTitle);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(8);
    auto* heading = new QLabel(plugin.description.configurationTitle);
    QFont font = heading->font();
    font.setWeight(QFont::DemiBold);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    heading->setFont(font);
    heading->setAccessibleName(heading->text());
    layout->addWidget(heading);
    for (const widget::Parameter& p : plugin.plugin->parameters()) {
        switch (p.type) {
        case widget::Parameter::Type::Flag:
            addFlag(p);
            break;
        case widget::Parameter::Type::Choice:
            addChoice(p);
            break;
        case widget::Parameter::Type::EntityList:
            addEntities(p);
            break;
        }
    }
    auto* buttons = new QDialogButtonBox;
    QPushButton* done = buttons->addButton(QStringLiteral("完成"), QDialogButtonBox::AcceptRole);
    done->setAccessibleName(done->text());
    connect(done, &QPushButton::clicked, this, &QWidget::close);
    layout->addWidget(buttons);
    resize(380, sizeHint().height());
}

void ConfigSheet::set(const QString& key, const QJsonValue& value) {
    if (value.isUndefined())
        configuration_.remove(key);
    else
        configuration_.insert(key, value);
    emit changed(id_, configuration_);
}

void ConfigSheet::addFlag(const widget::Parameter& p) {
    auto* box = new QCheckBox(p.title);
    box->setAccessibleName(p.title);
    const QJsonValue stored = configuration_.value(p.key);
    box->setChecked(stored.isBool() ? stored.toBool() : p.defaultValue.toBool());
    connect(box, &QCheckBox::toggled, this, [this, key = p.key](bool on) { set(key, on); });
    layout()->addWidget(box);
}

void ConfigSheet::addChoice(const widget::Parameter& p) {
    auto* combo = new QComboBox;
    const QString stored = configuration_.value(p.key).toString();
    int current = -1;
    for (const widget::Option& option : p.options) {
        if (option.value == stored)
            current = int(combo->count());
        if (current < 0 && option.value == p.defaultValue.toString() && stored.isEmpty())
            current = int(combo->count());
        combo->addItem(option.title, option.value);
    }
    // A stored text that names no value counts as the default, as the plug-in reads it.
    if (current < 0)
        current = std::max(0, int(combo->findData(p.defaultValue.toString())));
    combo->setCurrentIndex(current);
    connect(combo, &QComboBox::currentIndexChanged, this,
            [this, combo, key = p.key] { set(key, combo->currentData().toString()); });
    layout()->addWidget(title(p.title, combo));
    layout()->addWidget(combo);
}

// Chosen ids are kept in the order they were picked. Ids whose entity has gone stay in the
// configuration (the entity may come back) but are not listed.
void ConfigSheet::addEntities(const widget::Parameter& p) {
    auto* list = new QListWidget;
    list->setSpacing(2);
    QStringList chosen;
    const QJsonValue stored = configuration_.value(p.key);
    for (const QJsonValue& v : stored.toArray())
        if (v.isString())
            chosen.append(v.toString());
    QStringList present;
    for (const widget::Entity& e : plugin_.plugin->entities(p.key, chosen))
        present.append(e.id);
    for (const widget::Entity& e : plugin_.plugin->suggestedEntities(p.key)) {
        auto* item = new QListWidgetItem(e.name, list);
        item->setData(Qt::UserRole, e.id);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(present.contains(e.id) ? Qt::Checked : Qt::Unchecked);
    }
    if (list->count() == 0) {
        auto* empty = new QListWidgetItem(QStringLiteral("暂无可选订阅"), list);
        empty->setFlags(Qt::NoItemFlags);
    }
    list->setFixedHeight(
        std::clamp(int(list->count()), 2, 6) * (list->fontMetrics().height() + 10) + 8);
    connect(list, &QListWidget::itemChanged, this,
            [this, key = p.key, chosen](QListWidgetItem* item) mutable {
                const QString id = item->data(Qt::UserRole).toString();
                chosen.removeAll(id);
                if (item->checkState() == Qt::Checked)
                    chosen.append(id);
                if (chosen.isEmpty()) {
                    // "不选则显示全部": nothing chosen is no list at all.
                    set(key, QJsonValue::Undefined);
                    return;
                }
                set(key, QJsonArray::fromStringList(chosen));
            });
    layout()->addWidget(title(p.title, list));
    layout()->addWidget(list);
}

} // namespace tessel::host
