// The application's single state holder about the gateway. Lives on the GUI thread; only the
// network requests run elsewhere, one after another.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <QCoro/QCoroTask>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "gateway/client.h"
#include "model/snapshot.h"
#include "storage/container.h"
#include "storage/snapshot_store.h"
#include "storage/widget_preferences.h"
#include "sync/settings.h"
#include "sync/shared_snapshot.h"

namespace tessel {

class BootClockTimer;

class DataSyncService : public QObject {
    Q_OBJECT
    Q_PROPERTY(tessel::Snapshot snapshot READ snapshot NOTIFY snapshotChanged)
    Q_PROPERTY(bool syncing READ syncing NOTIFY syncingChanged)
    Q_PROPERTY(QString storageIssue READ storageIssue NOTIFY storageIssueChanged)
    Q_PROPERTY(QString screen READ screen WRITE setScreen NOTIFY screenChanged)
    Q_PROPERTY(QString endpoint READ endpoint NOTIFY endpointChanged)
    Q_PROPERTY(int interval READ interval NOTIFY intervalChanged)
    Q_PROPERTY(tessel::WidgetPreferences widgetPreferences READ widgetPreferences WRITE
                   setWidgetPreferences NOTIFY widgetPreferencesChanged)

public:
    static constexpr const char* storageMessage =
        "无法写入 App Group。请检查数据目录的写入权限和共享容器配置。";
    static constexpr const char* preferencesMessage = "无法保存小组件设置，请检查 App Group 配置。";

    // Pieces the application takes from the desktop; tests put their own in.
    struct Options {
        // Shared container; nullopt means there is none (every write fails).
        std::optional<std::filesystem::path> container = SharedContainer::directory();
        QString settingsPath; // empty: AppSettings::defaultPath()
        ClientOptions client;
        // Length of one "second" of the polling loop's wait; tests shorten it.
        std::chrono::milliseconds second{1000};
        // The stored snapshot is read at construction, for windows that show it at once.
        // Without, it is read when first asked for; a cycle before that reads only the part
        // its answers do not replace, so that old and new records are never both in memory.
        bool loadStored = true;
    };

    // What the application does: the shared container, the user's settings, no request sent.
    explicit DataSyncService(QObject* parent = nullptr);
    explicit DataSyncService(Options options, QObject* parent = nullptr);
    ~DataSyncService() override;

    // Valid until the next snapshotChanged(): a new snapshot is a new object.
    const Snapshot& snapshot() const { return published()->snapshot(); }
    // The same snapshot, shared: for workers that derive what a view shows, and for finding a
    // subscription by id without walking them all.
    const SharedSnapshot::Ptr& published() const {
        if (!published_)
            readStored();
        return published_;
    }
    bool syncing() const { return syncing_; }
    // Empty when the last write went well.
    QString storageIssue() const { return storageIssue_; }
    QString screen() const { return screen_; }
    void setScreen(const QString& screen);
    QString endpoint() const { return endpoint_; }
    int interval() const { return interval_; } // seconds, at least 30
    const WidgetPreferences& widgetPreferences() const { return widgetPreferences_; }
    // Saves the whole value; on success asks the widgets to reload.
    void setWidgetPreferences(const WidgetPreferences& preferences);
    int failures() const { return failures_; }

    // Starts the polling loop once; later calls do nothing. Changes of the settings file made
    // by others (tesselctl, an editor) are followed from construction on, as configure() would
    // apply them.
    void start();

    // One sync cycle; never fails. Returns at once while another cycle runs. The task ends
    // when the cycle (and a replacement cycle after an endpoint change) has committed.
    QCoro::Task<> refresh(bool reloadWidget);

    // Validates, stores the key (empty deletes it), applies and saves the settings, then
    // starts a refresh with a widget reload and returns its task. Throws GatewayError,
    // AppSettings::SettingsError or KeychainError, having changed no setting (a key store that
    // did not answer, GatewayKeychain::unanswered, may still store the key). The key store is
    // called on this thread: for tesselctl; a window uses save().
    QCoro::Task<> configure(const QString& endpoint, int interval, const QString& token);
    // The same, leaving the key store as it is.
    QCoro::Task<> configure(const QString& endpoint, int interval);

    // What became of a save(): `failure` is empty when the settings were applied.
    struct Saved {
        QString failure;
        bool keyStored = false; // the key given is in the store now
        // The store gave no answer; it may still carry the call out.
        bool keyUnanswered = false;
    };
    // configure() for a window, which must keep answering: validates and checks the settings
    // file at once, writes `key` when given (empty deletes it) off the GUI thread, then applies
    // the settings and starts a refresh it does not await. Never throws.
    QCoro::Task<Saved> save(QString endpoint, int interval, std::optional<QString> key);

    // The key stored for `endpoint`, read off the GUI thread (the store may take seconds: its
    // activation, an unlock prompt). `done(key, known)` runs on the thread of `context` unless
    // that is gone; `known` is false when the store did not answer, and then `key` is empty.
    static void findKey(const QString& endpoint, QObject* context,
                        std::function<void(const QString& key, bool known)> done);

    // The address the user would be offered, read from the gateway's own configuration.
    static QString detectEndpoint();
    static QString defaultEndpoint();
    // The shared container's name, as the widgets know it.
    static QString groupID();

    // The application's settings file, also the windows' way to it.
    Settings& settings() { return settings_; }

signals:
    void snapshotChanged();
    void syncingChanged();
    void storageIssueChanged();
    void screenChanged();
    void endpointChanged();
    void intervalChanged();
    void widgetPreferencesChanged();
    // After every cycle's commit (also one that only discarded a stale result).
    void cycleFinished();

private:
    QCoro::Task<> apply(const QString& endpoint, int interval, const QString* token);
    // configure()'s checks before anything changes; throws as configure() does.
    void check(const QString& endpoint);
    // configure() once the key is in place: saves, adopts and starts the refresh.
    QCoro::Task<> commit(const QString& endpoint, int interval);
    bool adopt(const QString& endpoint, int interval);
    void followSettings(const QString& key);
    static QCoro::Task<> pollingLoop(QPointer<DataSyncService> service);
    // When a written snapshot reloads the widgets: never, when what their footer says of the
    // sync state changes (an issue appears or clears, the data turns current or stale), always.
    enum class Reload { never, onChange, always };
    // Both write on writer_, off the GUI thread, in call order. `replaced` is let go there
    // before the write.
    QCoro::Task<> persist(Reload reload, SharedSnapshot::Ptr replaced = {});
    QCoro::Task<> savePreferences();
    void setSnapshot(SharedSnapshot::Ptr snapshot);
    void readStored() const;
    void setSyncing(bool syncing);
    void setStorageIssue(const QString& issue);

    Options options_;
    Settings settings_;
    bool writingSettings_ = false; // own writes are adopted by configure(), not followed
    SnapshotStore store_;
    mutable SharedSnapshot::Ptr published_; // null until the stored one is read
    bool syncing_ = false;
    QString storageIssue_;
    QString screen_ = QStringLiteral("overview");
    QString endpoint_;
    int interval_ = 60;
    WidgetPreferences widgetPreferences_;
    bool loopStarted_ = false;
    QPointer<BootClockTimer> wait_; // the loop's current wait, restarted on a new interval
    int failures_ = 0;
    // The sync state of the last snapshot written: what the widgets read.
    mutable std::optional<Instant> writtenUpdatedAt_;
    mutable bool writtenIssue_ = false;
    // Bumped by configure(); a cycle that sees it change re-runs with the new key.
    unsigned generation_ = 0;
    // Last member, so destroyed first: waits for writes still queued, nothing is lost.
    QThreadPool writer_;
};

} // namespace tessel
