// The application's own updater: fetches the update feed on demand, compares versions and
// shows its own dialogs. No automatic checks, nothing is installed; a newer release is offered
// as a download page.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

#include "app/update_feed.h"

class QNetworkAccessManager;
class QNetworkReply;
class QWidget;

namespace tessel {

class UpdateController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)

public:
    struct Result {
        enum class Kind { NoFeed, UpToDate, Available, Failed };
        Kind kind = Kind::Failed;
        std::optional<UpdateFeed::Release> release; // Available only
        QString message;                            // what the dialog says
    };

    static constexpr qint64 maxFeedSize = 2 * 1024 * 1024;

    // The build's feed address and version.
    explicit UpdateController(QObject* parent = nullptr);
    UpdateController(const QString& feedUrl, const QString& currentVersion,
                     QObject* parent = nullptr);
    ~UpdateController() override;

    bool checking() const { return reply_ != nullptr; }
    QString currentVersion() const { return current_; }
    // The feed's address; empty when the build names none.
    QString feedUrl() const { return feed_; }
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    // Parent of the dialogs (the dashboard window when it is open).
    void setDialogParent(QWidget* parent);

public slots:
    // User-initiated check: the result appears in a dialog.
    void checkForUpdates();
    // The same check without a dialog; ends with finished(). Ignored while one runs.
    void check();

signals:
    void finished(const tessel::UpdateController::Result& result);
    void checkingChanged();

private:
    void complete(QNetworkReply* reply);
    void report(const Result& result);
    void showDialog(const Result& result);

    QString feed_;
    QString current_;
    std::chrono::milliseconds timeout_{15000};
    QNetworkAccessManager* network_ = nullptr;
    QNetworkReply* reply_ = nullptr;
    bool interactive_ = false;
    bool tooLarge_ = false;
    QPointer<QWidget> dialogParent_;
};

} // namespace tessel

Q_DECLARE_METATYPE(tessel::UpdateController::Result)
