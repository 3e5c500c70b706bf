#include "host/config_sheet.h"
#include "session/off_thread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <utility>

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
    : QWidget(parent, Qt::Dialog), plugin_(plugin.plugin), id_(widgetId),
      configuration_(configuration) {
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
    for (const widget::Parameter& p : plugin_->parameters()) {
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
    applyOverrides();
    resize(380, sizeHint().height());
}

void ConfigSheet::applyOverrides() {
    QSet<QString> overridden;
    for (const auto& [flag, keys] : std::as_const(overriders_))
        if (flag->isChecked())
            for (const QString& key : keys)
                overridden.insert(key);
    for (auto it = controls_.cbegin(); it != controls_.cend(); ++it)
        for (QWidget* control : it.value())
            control->setEnabled(!overridden.contains(it.key()) && !reading_.contains(it.key()));
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
    connect(box, &QCheckBox::toggled, this, [this, key = p.key](bool on) {
        set(key, on);
        applyOverrides();
    });
    layout()->addWidget(box);
    if (p.overrides.isEmpty())
        return;
    overriders_.append({box, p.overrides});
    if (p.overrideHint.isEmpty())
        return;
    auto* hint = new QLabel(p.overrideHint);
    hint->setWordWrap(true);
    QFont font = hint->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    hint->setFont(font);
    // Under the flag's text, not under its box.
    const QStyle* style = box->style();
    hint->setContentsMargins(style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                                 style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box),
                             0, 0, 0);
    hint->setAccessibleName(p.overrideHint);
    box->setAccessibleDescription(p.overrideHint);
    layout()->addWidget(hint);
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
    QLabel* label = title(p.title, combo);
    layout()->addWidget(label);
    layout()->addWidget(combo);
    controls_.insert(p.key, {label, combo});
}

namespace {

struct EntityChoices {
    QStringList present; // kept ids whose entity still exists
    QList<widget::Entity> offered;
};

} // namespace

// Chosen ids are kept in the order they were picked. Ids whose entity has gone stay in the
// configuration (the entity may come back) but are not listed. Both lists come from the
// snapshot file, which may be large: a worker reads them while the sheet already shows.
void ConfigSheet::addEntities(const widget::Parameter& p) {
    auto* list = new QListWidget;
    list->setSpacing(2);
    QStringList chosen;
    const QJsonValue stored = configuration_.value(p.key);
    for (const QJsonValue& v : stored.toArray())
        if (v.isString())
            chosen.append(v.toString());
    auto* reading = new QListWidgetItem(QStringLiteral("正在读取订阅…"), list);
    reading->setFlags(Qt::NoItemFlags);
    list->setFixedHeight(2 * (list->fontMetrics().height() + 10) + 8);
    QLabel* label = title(p.title, list);
    layout()->addWidget(label);
    layout()->addWidget(list);
    controls_.insert(p.key, {label, list});
    reading_.insert(p.key);

    auto read = [plugin = plugin_, key = p.key, chosen] {
        EntityChoices choices;
        for (const widget::Entity& e : plugin->entities(key, chosen))
            choices.present.append(e.id);
        choices.offered = plugin->suggestedEntities(key);
        return choices;
    };
    // Guarded by the list: a sheet closed before the read ends never hears the result.
    offThread(list, std::move(read), [this, list, key = p.key, chosen](EntityChoices choices) {
        fillEntities(list, key, chosen, choices.present, choices.offered);
    });
}

void ConfigSheet::fillEntities(QListWidget* list, const QString& key, QStringList chosen,
                               const QStringList& present, const QList<widget::Entity>& offered) {
    list->clear();
    for (const widget::Entity& e : offered) {
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
    reading_.remove(key);
    applyOverrides();
    connect(list, &QListWidget::itemChanged, this,
            [this, key, chosen = std::move(chosen)](QListWidgetItem* item) mutable {
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
    // Grown to show the filled list; a sheet the user made taller stays so.
    if (height() < sizeHint().height())
        resize(width(), sizeHint().height());
}

} // namespace tessel::host
