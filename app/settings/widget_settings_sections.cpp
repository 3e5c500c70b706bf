#include "app/settings/widget_settings_sections.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QFormLayout>
#include <QListView>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <unordered_set>

#include "app/settings/form.h"
#include "app/settings/subscription_model.h"
#include "sync/data_sync_service.h"
#include "ui/style.h"
#include "ui/text_label.h"

namespace tessel {

namespace SubscriptionSelection {

bool isOn(const std::vector<std::string>& providerIDs, const std::string& id) {
    return providerIDs.empty() ||
           std::find(providerIDs.begin(), providerIDs.end(), id) != providerIDs.end();
}

std::vector<std::string> toggled(const std::vector<std::string>& providerIDs,
                                 const std::vector<Quota>& quotas, const std::string& id, bool on) {
    std::vector<std::string> ids = providerIDs;
    if (ids.empty())
        for (const Quota& quota : quotas)
            ids.push_back(quota.id());
    if (!on)
        std::erase(ids, id);
    else if (std::find(ids.begin(), ids.end(), id) == ids.end())
        ids.push_back(id);
    std::erase(ids, std::string(WidgetPreferences::noneSelected));
    // Deselecting everything differs from the empty list, which stands for all.
    if (ids.empty())
        ids.push_back(WidgetPreferences::noneSelected);
    return ids;
}

} // namespace SubscriptionSelection

// One checkable row per subscription: a thousand subscriptions cost a thousand rows, not a
// thousand widgets, and their texts are made only for the rows in view.
class SubscriptionSwitches : public SubscriptionModel {
public:
    using SubscriptionModel::SubscriptionModel;

    std::function<void(const std::string& id, bool on)> changed;

    void setSelection(const std::vector<std::string>& providerIDs) {
        all_ = providerIDs.empty();
        selected_ = std::unordered_set<std::string>(providerIDs.begin(), providerIDs.end());
        if (rowCount() > 0)
            emit dataChanged(index(0), index(rowCount() - 1), {Qt::CheckStateRole});
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::CheckStateRole)
            return SubscriptionModel::data(index, role);
        const Quota* quota = index.isValid() ? this->quota(index.row()) : nullptr;
        if (!quota)
            return {};
        return all_ || selected_.count(quota->id()) ? Qt::Checked : Qt::Unchecked;
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        const Quota* quota = index.isValid() ? this->quota(index.row()) : nullptr;
        if (role != Qt::CheckStateRole || !quota || !changed)
            return false;
        changed(quota->id(), value.toInt() == Qt::Checked);
        return true;
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return SubscriptionModel::flags(index) | Qt::ItemIsUserCheckable;
    }

private:
    std::unordered_set<std::string> selected_;
    bool all_ = true;
};

namespace {

// The title, and below it the plan in the caption font and the secondary colour. Every row is
// as high as one with a plan, so that the list takes one row's size for all: laying out a
// hundred thousand rows then measures none of them.
class SubscriptionDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rheight() += QFontMetrics(Style::caption()).height();
        return size + QSize(0, 6);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        const QString title = opt.text;
        const QString plan = index.data(SubscriptionModel::planRole).toString();
        opt.text.clear();
        QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);

        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget)
                               .adjusted(4, 0, -4, 0);
        const QFontMetrics titleMetrics(opt.font);
        const QFont caption = Style::caption();
        const QFontMetrics captionMetrics(caption);
        const int height = titleMetrics.height() + (plan.isEmpty() ? 0 : captionMetrics.height());
        const int top = text.top() + (text.height() - height) / 2;
        const bool selected = opt.state & QStyle::State_Selected;
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(opt.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(QRect(text.left(), top, text.width(), titleMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          titleMetrics.elidedText(title, Qt::ElideRight, text.width()));
        if (!plan.isEmpty()) {
            painter->setFont(caption);
            painter->setPen(selected ? opt.palette.color(QPalette::HighlightedText)
                                     : Style::secondary(opt.palette));
            painter->drawText(QRect(text.left(), top + titleMetrics.height(), text.width(),
                                    captionMetrics.height()),
                              Qt::AlignLeft | Qt::AlignVCenter,
                              captionMetrics.elidedText(plan, Qt::ElideRight, text.width()));
        }
        painter->restore();
    }
};

constexpr int visibleRows = 8;

} // namespace

QString WidgetSettingsSections::hostProgram() {
    // Both programs install into one bindir: a tree installed under a prefix that is not on
    // PATH starts its own host, not another installation's.
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& path : {here + QStringLiteral("/../host/tessel-widget-host"),
                                here + QStringLiteral("/tessel-widget-host")}) {
        const QFileInfo program(path);
        if (program.isFile() && program.isExecutable())
            return program.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("tessel-widget-host"));
}

WidgetSettingsSections::WidgetSettingsSections(DataSyncService* sync, QWidget* parent)
    : QWidget(parent), sync_(sync) {
    setObjectName(QStringLiteral("widgetSettings"));
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(16);

    defaultsSection(page);
    largeSection(page);
    filterSection(page);
    writeEdits();
    if (sync_) {
        connect(sync_, &DataSyncService::widgetPreferencesChanged, this,
                &WidgetSettingsSections::showPreferences);
    }
    // The rows follow the snapshot on their own, off this thread.
    connect(model_, &QAbstractItemModel::modelReset, this, &WidgetSettingsSections::fitList);
    Form::alignLabels(this);
    fitList();
    showPreferences();
}

void WidgetSettingsSections::defaultsSection(QVBoxLayout* page) {
    QFormLayout* defaults =
        Form::section(page, QStringLiteral("小组件 · 默认显示"), QStringLiteral("widgetDefaults"));
    defaults->addRow(
        Form::note(QStringLiteral("修改即保存，并请求刷新桌面小组件。默认所有小组件跟随这"
                                  "里的设置；系统可能延后显示更新。"),
                   QStringLiteral("defaultsNote")));
    auto* gallery = new QPushButton(QStringLiteral("添加桌面小组件…"));
    gallery->setObjectName(QStringLiteral("openGallery"));
    gallery->setAccessibleName(gallery->text());
    Form::button(defaults, gallery);
    galleryIssue_ = Form::note(QString(), QStringLiteral("galleryIssue"));
    galleryIssue_->setTint(Style::Tint::Orange);
    galleryIssue_->hide();
    defaults->addRow(galleryIssue_);
    metric_ = Form::picker(defaults, QStringLiteral("小号默认指标"),
                           {{QStringLiteral("剩余额度"), QStringLiteral("remaining")},
                            {QStringLiteral("已用额度"), QStringLiteral("used")},
                            {QStringLiteral("重置时间"), QStringLiteral("reset")},
                            {QStringLiteral("估算费用"), QStringLiteral("cost")},
                            {QStringLiteral("Token"), QStringLiteral("tokens")}},
                           QStringLiteral("metric"));
    period_ = Form::picker(defaults, QStringLiteral("统计时间范围"),
                           {{QStringLiteral("今日"), QStringLiteral("today")},
                            {QStringLiteral("7 日"), QStringLiteral("week")},
                            {QStringLiteral("30 日"), QStringLiteral("month")}},
                           QStringLiteral("period"));
    quotaCount_ = Form::picker(defaults, QStringLiteral("中号 / 大号订阅数量"),
                               {{QStringLiteral("1 个"), qlonglong(1)},
                                {QStringLiteral("2 个"), qlonglong(2)},
                                {QStringLiteral("3 个"), qlonglong(3)}},
                               QStringLiteral("quotaCount"));
    showQuotas_ =
        Form::toggle(defaults, QStringLiteral("显示订阅额度"), QStringLiteral("showQuotas"));
    showWindowName_ = Form::toggle(defaults, QStringLiteral("显示额度窗口名称"),
                                   QStringLiteral("showWindowName"));
    showReset_ =
        Form::toggle(defaults, QStringLiteral("显示重置日期时间"), QStringLiteral("showReset"));
    showSync_ =
        Form::toggle(defaults, QStringLiteral("显示最后同步时间"), QStringLiteral("showSync"));

    connect(gallery, &QPushButton::clicked, this, &WidgetSettingsSections::openGallery);
}

void WidgetSettingsSections::largeSection(QVBoxLayout* page) {
    large_ =
        Form::section(page, QStringLiteral("小组件 · 大号信息"), QStringLiteral("widgetLarge"));
    showCost_ = Form::toggle(large_, QStringLiteral("估算费用"), QStringLiteral("showCost"));
    showTokens_ =
        Form::toggle(large_, QStringLiteral("输入 + 输出 Token"), QStringLiteral("showTokens"));
    showChart_ = Form::toggle(large_, QStringLiteral("用量趋势图"), QStringLiteral("showChart"));
    chartMetric_ = Form::picker(large_, QStringLiteral("趋势指标"),
                                {{QStringLiteral("Token"), QStringLiteral("tokens")},
                                 {QStringLiteral("估算费用"), QStringLiteral("cost")}},
                                QStringLiteral("chartMetric"));
    showRequests_ =
        Form::toggle(large_, QStringLiteral("请求总数"), QStringLiteral("showRequests"));
    showAgents_ =
        Form::toggle(large_, QStringLiteral("调用最多的 Agent"), QStringLiteral("showAgents"));
}

void WidgetSettingsSections::filterSection(QVBoxLayout* page) {
    QFormLayout* filter =
        Form::section(page, QStringLiteral("小组件 · 订阅筛选"), QStringLiteral("widgetFilter"));
    all_ = Form::toggle(filter, QStringLiteral("使用全部订阅"), QStringLiteral("allSubscriptions"));
    filter->addRow(
        Form::note(QStringLiteral("勾选需要展示的订阅。小号点击订阅名可在所选订阅之间切换；"
                                  "中号、大号按 Tessel 顺序展示。未单独选择时使用全部订阅。"),
                   QStringLiteral("filterNote")));
    model_ = new SubscriptionSwitches(sync_, {}, this);
    list_ = new QListView;
    list_->setObjectName(QStringLiteral("subscriptions"));
    list_->setAccessibleName(QStringLiteral("订阅"));
    list_->setModel(model_);
    list_->setItemDelegate(new SubscriptionDelegate(list_));
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    filter->addRow(list_);
    auto* reset = new QPushButton(QStringLiteral("恢复默认展示"));
    reset->setObjectName(QStringLiteral("resetPreferences"));
    reset->setAccessibleName(reset->text());
    Form::button(filter, reset);

    connect(reset, &QPushButton::clicked, this,
            [this] { write([](WidgetPreferences& p) { p = WidgetPreferences(); }); });

    connect(all_, &QCheckBox::toggled, this, [this](bool on) {
        write([&](WidgetPreferences& p) {
            p.providerIDs.clear();
            if (!on)
                for (const Quota& quota : model_->shown()->snapshot().quotas)
                    p.providerIDs.push_back(quota.id());
        });
    });
    model_->changed = [this](const std::string& id, bool on) {
        write([&](WidgetPreferences& p) {
            p.providerIDs = SubscriptionSelection::toggled(
                p.providerIDs, model_->shown()->snapshot().quotas, id, on);
        });
    };
}

// Every picker and toggle writes its field at once.
void WidgetSettingsSections::writeEdits() {
    auto pick = [this](QComboBox* picker, auto field) {
        connect(picker, &QComboBox::activated, this, [this, picker, field] {
            const QVariant value = picker->currentData();
            write([&](WidgetPreferences& p) {
                using T = std::decay_t<decltype(p.*field)>;
                if constexpr (std::is_same_v<T, std::string>)
                    p.*field = value.toString().toStdString();
                else
                    p.*field = value.toLongLong();
            });
        });
    };
    pick(metric_, &WidgetPreferences::metric);
    pick(period_, &WidgetPreferences::period);
    pick(quotaCount_, &WidgetPreferences::quotaCount);
    pick(chartMetric_, &WidgetPreferences::chartMetric);
    auto flag = [this](QCheckBox* box, bool WidgetPreferences::*field) {
        // `toggled`, not `clicked`: a screen reader's "Toggle" action changes the state alone.
        connect(box, &QCheckBox::toggled, this,
                [this, field](bool on) { write([&](WidgetPreferences& p) { p.*field = on; }); });
    };
    flag(showQuotas_, &WidgetPreferences::showQuotas);
    flag(showWindowName_, &WidgetPreferences::showWindowName);
    flag(showReset_, &WidgetPreferences::showReset);
    flag(showSync_, &WidgetPreferences::showSync);
    flag(showCost_, &WidgetPreferences::showCost);
    flag(showTokens_, &WidgetPreferences::showTokens);
    flag(showChart_, &WidgetPreferences::showChart);
    flag(showRequests_, &WidgetPreferences::showRequests);
    flag(showAgents_, &WidgetPreferences::showAgents);
}

void WidgetSettingsSections::openGallery() {
    const QString program = hostProgram();
    // Detached: the host outlives the application and keeps the widgets on the desktop.
    if (!program.isEmpty() && QProcess::startDetached(program, {QStringLiteral("--gallery")})) {
        galleryIssue_->hide();
        return;
    }
    const QString message =
        program.isEmpty()
            ? QStringLiteral("找不到桌面小组件程序 tessel-widget-host，请确认它已随本应用安装。")
            : QStringLiteral("无法启动桌面小组件程序 %1。").arg(program);
    galleryIssue_->setText(message);
    galleryIssue_->setAccessibleName(message);
    galleryIssue_->show();
}

void WidgetSettingsSections::write(const std::function<void(WidgetPreferences&)>& change) {
    if (!sync_)
        return;
    WidgetPreferences preferences = sync_->widgetPreferences();
    change(preferences);
    sync_->setWidgetPreferences(preferences);
    // A value equal to the stored one announces nothing; the controls still show it.
    showPreferences();
}

void WidgetSettingsSections::showPreferences() {
    if (!sync_)
        return;
    const WidgetPreferences& p = sync_->widgetPreferences();
    Form::select(metric_, QString::fromStdString(p.metric));
    Form::select(period_, QString::fromStdString(p.period));
    Form::select(quotaCount_, qlonglong(p.quotaCount));
    Form::select(chartMetric_, QString::fromStdString(p.chartMetric));
    const std::pair<QCheckBox*, bool> flags[] = {
        {showQuotas_, p.showQuotas}, {showWindowName_, p.showWindowName},
        {showReset_, p.showReset},   {showSync_, p.showSync},
        {showCost_, p.showCost},     {showTokens_, p.showTokens},
        {showChart_, p.showChart},   {showRequests_, p.showRequests},
        {showAgents_, p.showAgents}, {all_, p.providerIDs.empty()}};
    for (const auto& [box, on] : flags) {
        const QSignalBlocker quiet(box);
        box->setChecked(on);
    }
    large_->setRowVisible(chartMetric_, p.showChart);
    model_->setSelection(p.providerIDs);
}

void WidgetSettingsSections::fitList() {
    // As high as its rows up to a few, then it scrolls inside the form.
    const int rows = model_->rowCount();
    list_->setVisible(rows > 0);
    const int row = rows > 0 ? list_->sizeHintForRow(0) : 0;
    list_->setFixedHeight(2 * list_->frameWidth() + std::min(rows, visibleRows) * row);
}

} // namespace tessel
