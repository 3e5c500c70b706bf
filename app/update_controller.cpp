#include "app/update_controller.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPushButton>

namespace tessel {

namespace {

using Kind = UpdateController::Result::Kind;

UpdateController::Result failure(const QString& reason) {
    return {Kind::Failed, std::nullopt, QStringLiteral("检查更新失败：") + reason};
}

} // namespace

UpdateController::UpdateController(QObject* parent)
    : UpdateController(QStringLiteral(TESSEL_APPCAST_URL), QStringLiteral(TESSEL_VERSION), parent) {
}

UpdateController::UpdateController(const QString& feedUrl, const QString& currentVersion,
                                   QObject* parent)
    : QObject(parent), feed_(feedUrl.trimmed()), current_(currentVersion) {}

UpdateController::~UpdateController() {
    if (reply_)
        reply_->abort();
}

void UpdateController::setDialogParent(QWidget* parent) {
    dialogParent_ = parent;
}

void UpdateController::checkForUpdates() {
    interactive_ = true;
    check();
}

void UpdateController::check() {
    if (reply_)
        return;
    if (feed_.isEmpty()) {
        // Builds without a feed come from a distribution or a local build: their updates
        // arrive through the package manager, which is not a failure.
        report({Kind::NoFeed, std::nullopt,
                QStringLiteral("此版本通过系统的软件包管理器更新，请在那里检查更新。")});
        return;
    }
    const QUrl url(feed_, QUrl::StrictMode);
    if (!url.isValid() || (url.scheme() != u"https" && url.scheme() != u"http")) {
        report(failure(QStringLiteral("更新源地址无效。")));
        return;
    }
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
        network_->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(static_cast<int>(timeout_.count()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("TesselWidget/%1").arg(current_));
    tooLarge_ = false;
    reply_ = network_->get(request);
    // An endless or huge answer is cut off instead of filling memory.
    connect(reply_, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > maxFeedSize && reply_) {
            tooLarge_ = true;
            reply_->abort();
        }
    });
    QNetworkReply* reply = reply_;
    connect(reply, &QNetworkReply::finished, this, [this, reply] { complete(reply); });
    emit checkingChanged();
}

void UpdateController::complete(QNetworkReply* reply) {
    reply->deleteLater();
    reply_ = nullptr;
    emit checkingChanged();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (tooLarge_ || reply->bytesAvailable() > maxFeedSize) {
        report(failure(QStringLiteral("更新源过大。")));
        return;
    }
    if (status != 0 && status != 200) {
        report(failure(QStringLiteral("更新服务器返回错误（HTTP %1）。").arg(status)));
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        const bool timedOut = reply->error() == QNetworkReply::OperationCanceledError ||
                              reply->error() == QNetworkReply::TimeoutError;
        report(failure(timedOut ? QStringLiteral("连接更新服务器超时。")
                                : QStringLiteral("无法连接更新服务器。")));
        return;
    }
    std::vector<UpdateFeed::Release> releases;
    try {
        releases = UpdateFeed::parse(reply->readAll());
    } catch (const UpdateFeed::FeedError&) {
        report(failure(QStringLiteral("更新源格式无效。")));
        return;
    }
    if (std::optional<UpdateFeed::Release> release = UpdateFeed::newer(releases, current_)) {
        const QString text = QStringLiteral("Tessel Widget %1 已发布，当前版本为 %2。")
                                 .arg(release->version, current_);
        report({Kind::Available, std::move(release), text});
        return;
    }
    report({Kind::UpToDate, std::nullopt,
            QStringLiteral("Tessel Widget %1 已是最新版本。").arg(current_)});
}

void UpdateController::report(const Result& result) {
    if (std::exchange(interactive_, false))
        showDialog(result);
    emit finished(result);
}

void UpdateController::showDialog(const Result& result) {
    auto* box = new QMessageBox(dialogParent_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowTitle(QStringLiteral("检查更新"));
    box->setTextFormat(Qt::PlainText);
    box->setText(result.message);
    box->setIcon(result.kind == Kind::Failed ? QMessageBox::Warning : QMessageBox::Information);
    if (result.kind == Kind::Available && result.release) {
        const UpdateFeed::Release release = *result.release;
        if (!release.notes.isEmpty())
            // Notes are shown as text, never interpreted as markup from the feed.
            box->setInformativeText(
                release.notes.left(4000).toHtmlEscaped().replace(u'\n', QStringLiteral("<br>")));
        if (!release.download.isEmpty()) {
            QPushButton* download =
                box->addButton(QStringLiteral("下载…"), QMessageBox::AcceptRole);
            connect(download, &QPushButton::clicked, box,
                    [url = release.download] { QDesktopServices::openUrl(url); });
        }
        box->addButton(QStringLiteral("稍后"), QMessageBox::RejectRole);
    } else {
        box->addButton(QMessageBox::Ok); // Qt's own "确定", as in every other dialog
    }
    // Not modal for the whole program: the tray and the dashboard keep working meanwhile.
    box->open();
}

} // namespace tessel
