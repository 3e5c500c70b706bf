#include "app/settings/settings_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <optional>

#include "app/login_item.h"
#include "app/settings/form.h"
#include "app/settings/key_lookup.h"
#include "app/settings/subscription_model.h"
#include "app/settings/widget_settings_sections.h"
#include "app/shell_settings.h"
#include "app/update_controller.h"
#include "sync/data_sync_service.h"
#include "sync/settings.h"
#include "ui/local_time.h"
#include "ui/style.h"
#include "ui/text_label.h"

namespace tessel {

namespace {

const QString lookingUp = QStringLiteral("正在读取密钥环…");
const QString unread = QStringLiteral("无法读取密钥环");
// Between two read-backs of a key store that does not answer; each read waits its own limit.
constexpr int readBackPause = 1000;

// Numeric date and short time in the user's locale.
QString instant(Instant at) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch());
    return LocalTime::userLocale().toString(QDateTime::fromMSecsSinceEpoch(ms.count()),
                                            QLocale::ShortFormat);
}

TextLabel* value(QFormLayout* form, const QString& label, const QString& objectName) {
    auto* text = new TextLabel({}, 2);
    text->setObjectName(objectName);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // No own name: a screen reader reads the value, and the row's label through the buddy.
    form->addRow(label, text);
    return text;
}

TextLabel* warning(const QString& objectName) {
    auto* text = new TextLabel({}, 6);
    text->setObjectName(objectName);
    text->setTint(Style::Tint::Orange);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return text;
}

QString feedText(const QString& feed) {
    const QString host = QUrl(feed).host();
    if (host.isEmpty())
        return QStringLiteral("此版本通过系统的软件包管理器更新。");
    return QStringLiteral("已安装的版本会从 ") + host +
           QStringLiteral(" 的更新清单下载新版本并替换自己。");
}

void addPrivacy(QVBoxLayout* page) {
    QFormLayout* privacy =
        Form::section(page, QStringLiteral("隐私与刷新"), QStringLiteral("privacySection"));
    privacy->parentWidget()->setFont(Style::caption());
    for (const QString& text :
         {QStringLiteral(
              "只发送 GET 请求，不修改 Tessel 配置、路由或凭证。不读取提供商凭证。共享快照"
              "仅保留展示字段，不保存网关密钥、请求正文或会话文本。"),
          QStringLiteral("本机自动检测只读取 settings.json 中的 port。远程地址必须明确填写并使用 "
                         "HTTPS。失败后指数退避，最长 15 分钟；可随时手动重试。桌面小组件不保证每分"
                         "钟刷新。")}) {
        auto* label = new TextLabel(text, 8);
        label->setAccessibleName(text);
        privacy->addRow(label);
    }
}

} // namespace

SettingsView::SettingsView(DataSyncService* sync, ShellSettings* settings,
                           UpdateController* updates, QWidget* parent)
    : QScrollArea(parent), sync_(sync), settings_(settings), updates_(updates),
      lookup_(new KeyLookup(this)), readBack_(new KeyLookup(this)),
      loginProgram_(QCoreApplication::applicationFilePath()) {
    setObjectName(QStringLiteral("settingsView"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    // Tab goes straight through the controls; focusing one scrolls it into view.
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("settingsForm"));
    auto* page = new QVBoxLayout(content);
    page->setContentsMargins(20, 20, 20, 20);
    page->setSpacing(16);
    addGateway(page);
    page->addWidget(new WidgetSettingsSections(sync_, content));
    addUpdates(page);
    addShell(page);
    addDiagnostics(page);
    addPrivacy(page);
    page->addStretch(1);
    Form::alignLabels(content);
    setWidget(content);

    follow();
    showShellSettings();
    showDiagnostics();
    // The height is the window's business: embedded, the form scrolls in what it is given.
    setMinimumWidth(minimumSide);
}

void SettingsView::addGateway(QVBoxLayout* page) {
    QFormLayout* gateway =
        Form::section(page, QStringLiteral("Gateway 连接"), QStringLiteral("gatewaySection"));
    endpoint_ = new QLineEdit;
    endpoint_->setObjectName(QStringLiteral("endpoint"));
    endpoint_->setAccessibleName(QStringLiteral("地址"));
    endpoint_->setPlaceholderText(DataSyncService::defaultEndpoint());
    gateway->addRow(QStringLiteral("地址"), endpoint_);
    token_ = new QLineEdit;
    token_->setObjectName(QStringLiteral("token"));
    token_->setEchoMode(QLineEdit::Password);
    token_->setAccessibleName(QStringLiteral("远程网关密钥（密钥环）"));
    gateway->addRow(QStringLiteral("远程网关密钥（密钥环）"), token_);
    auto* detect = new QPushButton(QStringLiteral("检测本机端口"));
    detect->setObjectName(QStringLiteral("detect"));
    detect->setAccessibleName(detect->text());
    Form::button(gateway, detect, true);
    intervalPicker_ = Form::picker(gateway, QStringLiteral("同步间隔"),
                                   {{QStringLiteral("30 秒"), 30},
                                    {QStringLiteral("60 秒"), 60},
                                    {QStringLiteral("2 分钟"), 120},
                                    {QStringLiteral("5 分钟"), 300}},
                                   QStringLiteral("interval"));
    save_ = new QPushButton(QStringLiteral("保存并连接"));
    save_->setObjectName(QStringLiteral("save"));
    save_->setAccessibleName(save_->text());
    styleSaveButton();
    Form::button(gateway, save_, true);
    message_ = new TextLabel({}, 6);
    message_->setObjectName(QStringLiteral("message"));
    message_->setFont(Style::caption());
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->hide();
    gateway->addRow(message_);

    connect(endpoint_, &QLineEdit::textChanged, this, &SettingsView::lookUpKey);
    connect(endpoint_, &QLineEdit::returnPressed, this, &SettingsView::save);
    connect(token_, &QLineEdit::returnPressed, this, &SettingsView::save);
    connect(lookup_, &KeyLookup::found, this, &SettingsView::keyFound);
    connect(readBack_, &KeyLookup::found, this, &SettingsView::keyReadBack);
    // Nothing is saved: the user confirms with "保存并连接".
    connect(detect, &QPushButton::clicked, this,
            [this] { endpoint_->setText(DataSyncService::detectEndpoint()); });
    connect(intervalPicker_, &QComboBox::activated, this,
            [this] { interval_ = intervalPicker_->currentData().toInt(); });
    connect(save_, &QPushButton::clicked, this, &SettingsView::save);
}

void SettingsView::addUpdates(QVBoxLayout* page) {
    QFormLayout* update =
        Form::section(page, QStringLiteral("更新"), QStringLiteral("updateSection"));
    auto* check = new QPushButton(QStringLiteral("检查更新…"));
    check->setObjectName(QStringLiteral("checkForUpdates"));
    check->setAccessibleName(check->text());
    Form::button(update, check);
    update->addRow(Form::note(feedText(updates_ ? updates_->feedUrl() : QString()),
                              QStringLiteral("feedNote")));
    connect(check, &QPushButton::clicked, this, [this] {
        if (!updates_)
            return;
        updates_->setDialogParent(window());
        updates_->checkForUpdates();
    });
}

void SettingsView::addShell(QVBoxLayout* page) {
    QFormLayout* shell =
        Form::section(page, QStringLiteral("外观与启动"), QStringLiteral("shellSection"));
    appearance_ = Form::picker(shell, QStringLiteral("外观"),
                               {{QStringLiteral("跟随系统"), QStringLiteral("system")},
                                {QStringLiteral("浅色"), QStringLiteral("light")},
                                {QStringLiteral("深色"), QStringLiteral("dark")}},
                               QStringLiteral("appearance"));
    showMenuBar_ = Form::toggle(shell, QStringLiteral("显示菜单栏"), QStringLiteral("showMenuBar"));
    menuQuota_ = Form::picker(shell, QStringLiteral("菜单栏额度"), {}, QStringLiteral("menuQuota"));
    // Rows read from the snapshot, compared off this thread: rebuilt only when the
    // subscriptions' ids or titles change, never a pass over them here.
    quotaChoices_ = new SubscriptionModel(sync_, QStringLiteral("第一个订阅"), menuQuota_);
    menuQuota_->setModel(quotaChoices_);
    login_ = Form::toggle(shell, QStringLiteral("登录时启动"), QStringLiteral("login"));
    login_->setChecked(LoginItem::status() == LoginItem::Status::Enabled);
    notifyLowQuota_ =
        Form::toggle(shell, QStringLiteral("额度不足时通知"), QStringLiteral("notifyLowQuota"));

    // The control keeps the user's choice when the file cannot take it; the message says why.
    connect(appearance_, &QComboBox::activated, this, [this] {
        if (settings_)
            stored(settings_->setAppearance(appearance_->currentData().toString()));
    });
    // Switches act on `toggled`: a click, the keyboard and a screen reader's "Toggle" action all
    // come through it, and the view's own updates are made with its signals blocked.
    connect(showMenuBar_, &QCheckBox::toggled, this, [this](bool on) {
        if (settings_)
            stored(settings_->setShowMenuBar(on));
    });
    connect(menuQuota_, &QComboBox::activated, this, [this] {
        if (settings_)
            stored(settings_->setMenuQuota(menuQuota_->currentData().toString()));
    });
    connect(login_, &QCheckBox::toggled, this, &SettingsView::changeLogin);
    connect(notifyLowQuota_, &QCheckBox::toggled, this, [this](bool on) {
        if (settings_)
            stored(settings_->setNotifyLowQuota(on));
    });
    connect(quotaChoices_, &QAbstractItemModel::modelReset, this, &SettingsView::showMenuQuota);
}

void SettingsView::addDiagnostics(QVBoxLayout* page) {
    diagnostics_ =
        Form::section(page, QStringLiteral("连接诊断"), QStringLiteral("diagnosticsSection"));
    status_ = value(diagnostics_, QStringLiteral("状态"), QStringLiteral("status"));
    version_ = value(diagnostics_, QStringLiteral("Tessel 版本"), QStringLiteral("version"));
    groupID_ = value(diagnostics_, QStringLiteral("App Group"), QStringLiteral("groupID"));
    groupID_->setText(DataSyncService::groupID());
    attemptedAt_ = value(diagnostics_, QStringLiteral("最近尝试"), QStringLiteral("attemptedAt"));
    quotaUpdatedAt_ =
        value(diagnostics_, QStringLiteral("额度读取"), QStringLiteral("quotaUpdatedAt"));
    usageUpdatedAt_ =
        value(diagnostics_, QStringLiteral("统计读取"), QStringLiteral("usageUpdatedAt"));
    issue_ = warning(QStringLiteral("issue"));
    diagnostics_->addRow(issue_);
    storageIssue_ = warning(QStringLiteral("storageIssue"));
    diagnostics_->addRow(storageIssue_);
}

void SettingsView::follow() {
    if (settings_)
        connect(settings_, &ShellSettings::changed, this, &SettingsView::showShellSettings);
    if (sync_) {
        connect(sync_, &DataSyncService::snapshotChanged, this, &SettingsView::showDiagnostics);
        connect(sync_, &DataSyncService::storageIssueChanged, this, &SettingsView::showDiagnostics);
    }
    // "已同步" turns into "数据已过期" with time alone.
    auto* clock = new QTimer(this);
    clock->setInterval(15000);
    connect(clock, &QTimer::timeout, this, [this] {
        if (isVisible())
            showDiagnostics();
    });
    clock->start();
}

void SettingsView::styleSaveButton() {
    // The filled look of the form's one prominent button: the highlight of the palette this
    // view is painted with (the dashboard's own appearance included), set again on a change.
    QPalette filled = palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        filled.setColor(group, QPalette::Button, filled.color(group, QPalette::Highlight));
        filled.setColor(group, QPalette::ButtonText,
                        filled.color(group, QPalette::HighlightedText));
    }
    save_->setPalette(filled);
}

void SettingsView::changeEvent(QEvent* event) {
    QScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        styleSaveButton();
}

bool SettingsView::lookingUpKey() const {
    return lookup_->pending();
}

void SettingsView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    // Every appearance starts from what is in effect; unsaved edits are dropped.
    if (!event->spontaneous())
        load();
}

void SettingsView::load() {
    if (!sync_)
        return;
    interval_ = sync_->interval();
    Form::select(intervalPicker_, interval_);
    if (endpoint_->text() == sync_->endpoint())
        lookUpKey(); // the key may have changed while hidden
    else
        endpoint_->setText(sync_->endpoint());
}

void SettingsView::lookUpKey() {
    token_->clear();
    storedKey_.reset();
    token_->setReadOnly(true);
    token_->setPlaceholderText(lookingUp);
    token_->setAccessibleDescription(lookingUp);
    lookup_->request(endpoint_->text().trimmed());
}

void SettingsView::keyFound(const QString& endpoint, const QString& key, bool known) {
    if (endpoint != endpoint_->text().trimmed())
        return;
    if (known)
        storedKey_ = key;
    token_->setText(key);
    token_->setReadOnly(false);
    token_->setPlaceholderText(known ? QString() : unread);
    // A screen reader does not read a placeholder.
    token_->setAccessibleDescription(token_->placeholderText());
    if (std::exchange(saveWaiting_, false))
        save();
}

void SettingsView::save() {
    if (!sync_ || saving_)
        return;
    if (lookup_->pending()) {
        // The key field is not known yet; saving now could delete a stored key.
        saveWaiting_ = true;
        return;
    }
    submit(endpoint_->text().trimmed(), interval_, token_->text());
}

QCoro::Task<> SettingsView::submit(QString endpoint, int interval, QString token) {
    // A key field the user left as the store gave it needs no store call, so a keyring that
    // is locked or gone cannot block a change of the interval. A key the store did not give is
    // only written when the user typed one: an empty field then is no wish to delete.
    std::optional<QString> key;
    if (storedKey_ ? token != *storedKey_ : !token.isEmpty())
        key = token;
    QPointer<SettingsView> self(this);
    saving_ = key.has_value();
    save_->setEnabled(!saving_);
    auto saving = sync_->save(endpoint, interval, key); // named: see DataSyncService::save
    const DataSyncService::Saved saved = co_await std::move(saving);
    if (!self)
        co_return;
    saving_ = false;
    save_->setEnabled(true);
    if (saved.keyStored) {
        unsettled_.reset(); // this key is in the store now, whatever the earlier call did
        if (endpoint_->text().trimmed() == endpoint)
            storedKey_ = token;
    }
    setMessage(saved.failure.isEmpty() ? QStringLiteral("设置已保存。") : saved.failure);
    if (saved.keyUnanswered)
        settle({endpoint, interval, token});
    emit saveFinished();
}

void SettingsView::configure(const QString& endpoint, int interval) {
    try {
        // The key is already in place; the refresh this starts runs on its own.
        sync_->configure(endpoint, interval);
        setMessage(QStringLiteral("设置已保存。"));
    } catch (const std::exception& e) {
        setMessage(QString::fromUtf8(e.what()));
    }
}

// The store may still carry out a call it did not answer: the key is read back until the store
// answers, so that the form shows what it holds, not what the user typed.
void SettingsView::settle(const Attempt& attempt) {
    unsettled_ = attempt;
    token_->setModified(false);
    readBack_->request(attempt.endpoint);
}

void SettingsView::keyReadBack(const QString& endpoint, const QString& key, bool known) {
    if (!unsettled_ || endpoint != unsettled_->endpoint)
        return;
    if (!known) {
        QTimer::singleShot(readBackPause, this, [this] {
            if (unsettled_)
                readBack_->request(unsettled_->endpoint);
        });
        return;
    }
    const Attempt attempt = *std::exchange(unsettled_, std::nullopt);
    if (endpoint_->text().trimmed() == attempt.endpoint && !lookup_->pending()) {
        storedKey_ = key;
        if (!token_->isModified())
            token_->setText(key);
    }
    const bool carriedOut = key == attempt.token; // an absent key reads as the empty text
    // The press that went unanswered completes now, unless the form has moved on since.
    const bool asBefore = endpoint_->text().trimmed() == attempt.endpoint &&
                          interval_ == attempt.interval && token_->text() == attempt.token;
    if (carriedOut && asBefore && !saving_ && sync_)
        configure(attempt.endpoint, attempt.interval);
    else if (!carriedOut)
        setMessage(QStringLiteral("密钥环已响应：密钥未更改。"));
    else
        setMessage(attempt.token.isEmpty() ? QStringLiteral("密钥环已响应：密钥已删除。")
                                           : QStringLiteral("密钥环已响应：密钥已保存。"));
    emit keySettled();
}

void SettingsView::setMessage(const QString& message) {
    message_->setText(message);
    message_->setAccessibleName(message);
    message_->setVisible(!message.isEmpty());
}

void SettingsView::stored(bool saved) {
    if (!saved)
        setMessage(QString::fromUtf8(AppSettings::SettingsError().what()));
}

void SettingsView::showShellSettings() {
    if (!settings_)
        return;
    Form::select(appearance_, settings_->appearanceText());
    {
        const QSignalBlocker quiet(showMenuBar_);
        showMenuBar_->setChecked(settings_->showMenuBar());
        const QSignalBlocker quietToo(notifyLowQuota_);
        notifyLowQuota_->setChecked(settings_->notifyLowQuota());
    }
    showMenuQuota();
}

void SettingsView::showMenuQuota() {
    if (!settings_)
        return;
    const QSignalBlocker quiet(menuQuota_);
    // Through the snapshot's index: findData would compare every row.
    menuQuota_->setCurrentIndex(quotaChoices_->rowOf(settings_->menuQuota()));
}

void SettingsView::showDiagnostics() {
    if (!sync_)
        return;
    const Snapshot& snapshot = sync_->snapshot();
    status_->setText(QString::fromStdString(snapshot.status()));
    version_->setText(snapshot.version ? QString::fromStdString(*snapshot.version)
                                       : QStringLiteral("未连接"));
    const std::pair<TextLabel*, const std::optional<Instant>*> instants[] = {
        {attemptedAt_, &snapshot.attemptedAt},
        {quotaUpdatedAt_, &snapshot.quotaUpdatedAt},
        {usageUpdatedAt_, &snapshot.usageUpdatedAt}};
    for (const auto& [label, at] : instants) {
        if (*at)
            label->setText(instant(**at));
        diagnostics_->setRowVisible(label, at->has_value());
    }
    const QString issue = QString::fromStdString(snapshot.issue.value_or(std::string()));
    issue_->setText(issue);
    issue_->setAccessibleName(issue);
    diagnostics_->setRowVisible(issue_, snapshot.issue.has_value());
    const QString storage = sync_->storageIssue();
    storageIssue_->setText(storage);
    storageIssue_->setAccessibleName(storage);
    diagnostics_->setRowVisible(storageIssue_, !storage.isEmpty());
}

void SettingsView::changeLogin(bool on) {
    QString failure;
    const bool now = LoginItem::apply(on, loginProgram_, failure);
    const QSignalBlocker quiet(login_);
    login_->setChecked(now);
    if (!failure.isEmpty())
        setMessage(failure);
}

} // namespace tessel
