// The settings and diagnostics form: the gateway address, key and interval (applied together by
// "保存并连接"), the widget sections, updates, appearance and start-up, what the last sync found,
// and what the application does with the user's data. Shown in the settings window and as the
// dashboard's settings section.
#pragma once

#include <QPointer>
#include <QScrollArea>
#include <QString>

#include <QCoro/QCoroTask>

#include <optional>

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace tessel {

class DataSyncService;
class KeyLookup;
class ShellSettings;
class SubscriptionModel;
class TextLabel;
class UpdateController;
class WidgetSettingsSections;

class SettingsView : public QScrollArea {
    Q_OBJECT
public:
    // The form is at least this wide; its window at least this wide and high.
    static constexpr int minimumSide = 520;

    SettingsView(DataSyncService* sync, ShellSettings* settings, UpdateController* updates,
                 QWidget* parent = nullptr);

    // Whether the key of the address in the field is still being read.
    bool lookingUpKey() const;
    bool saving() const { return saving_; }

signals:
    // After every press of "保存并连接" once its outcome is shown.
    void saveFinished();
    // After a key-store call that went unanswered, once the store's real content is shown.
    void keySettled();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void addGateway(QVBoxLayout* page);
    void addUpdates(QVBoxLayout* page);
    void addShell(QVBoxLayout* page);
    void addDiagnostics(QVBoxLayout* page);
    // The service's and the settings' changes, and the clock.
    void follow();
    void load();
    void styleSaveButton();
    void lookUpKey();
    void keyFound(const QString& endpoint, const QString& key, bool known);
    void save();
    // Hands the form to the service and shows how it went.
    QCoro::Task<> submit(QString endpoint, int interval, QString token);
    // The settings alone, the key being in place; the message says how it went.
    void configure(const QString& endpoint, int interval);
    // A save whose key-store call went unanswered: what was asked, until the store tells what
    // it holds.
    struct Attempt {
        QString endpoint;
        int interval;
        QString token;
    };
    void settle(const Attempt& attempt);
    void keyReadBack(const QString& endpoint, const QString& key, bool known);
    void setMessage(const QString& message);
    void showShellSettings();
    void showMenuQuota();
    void showDiagnostics();
    void changeLogin(bool on);
    // Says so when the settings file could not take a value.
    void stored(bool saved);

    QPointer<DataSyncService> sync_;
    QPointer<ShellSettings> settings_;
    QPointer<UpdateController> updates_;
    KeyLookup* lookup_;
    KeyLookup* readBack_;
    QString loginProgram_;

    int interval_ = 60;
    // The key the store gave for the address in the field (the field differs when edited);
    // nullopt while the store did not say.
    std::optional<QString> storedKey_;
    std::optional<Attempt> unsettled_;
    bool saveWaiting_ = false;
    bool saving_ = false;

    QLineEdit* endpoint_;
    QLineEdit* token_;
    QComboBox* intervalPicker_;
    QPushButton* save_;
    TextLabel* message_;
    QComboBox* appearance_;
    QCheckBox* showMenuBar_;
    QComboBox* menuQuota_;
    QCheckBox* login_;
    QCheckBox* notifyLowQuota_;
    QFormLayout* diagnostics_;
    TextLabel* status_;
    TextLabel* version_;
    TextLabel* groupID_;
    TextLabel* attemptedAt_;
    TextLabel* quotaUpdatedAt_;
    TextLabel* usageUpdatedAt_;
    TextLabel* issue_;
    TextLabel* storageIssue_;
    SubscriptionModel* quotaChoices_;
};

} // namespace tessel
