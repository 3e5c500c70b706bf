#include "sync/data_sync_service.h"

#include <QCoro/QCoroSignal>
#include <QDir>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include "gateway/endpoint.h"
#include "gateway/errors.h"
#include "gateway/keychain.h"
#include "gateway/secret_memory.h"
#include "model/display.h"
#include "model/wire.h"
#include "session/boot_timer.h"
#include "session/off_thread.h"
#include "sync/cycle.h"
#include "sync/schedule.h"
#include "sync/widget_center.h"
#include "sync/workers.h"

namespace tessel {

namespace {

Instant now() {
    return std::chrono::system_clock::now();
}

template <class F> auto attempt(F request) -> Cycle::Outcome<decltype(request())> {
    try {
        return request();
    } catch (...) {
        return std::current_exception();
    }
}

// The blocking part of a cycle: the key, then the requests strictly one after another,
// nothing after a failed handshake. The key store may take up to its guard to answer, so it is
// read here and not on the GUI thread. Errors come back as values, since QFuture would turn a
// non-Qt exception into QUnhandledException.
Cycle::Answers ask(const std::string& endpoint, const ClientOptions& options) {
    Cycle::Answers answers;
    // Read every cycle: a keyring that was locked at login may have been opened since.
    std::optional<std::string> key = GatewayKeychain::load(endpoint);
    std::optional<TesselClient> client;
    try {
        client.emplace(endpoint, std::move(key), options);
    } catch (...) {
        answers.handshake = std::current_exception();
    }
    SecretMemory::wipe(key);
    if (!client)
        return answers;
    answers.handshake = attempt([&] { return client->hello().version; });
    if (!std::holds_alternative<std::string>(answers.handshake))
        return answers;
    answers.quotas = attempt([&] { return client->quotas(); });
    answers.quotasArrived = now();
    for (std::size_t i = 0; i < Cycle::periods.size(); ++i)
        answers.usage[i] = attempt([&] { return client->usage(Cycle::periods[i].wire); });
    answers.usageArrived = now();
    return answers;
}

// What a cycle's worker hands back: the merged snapshot, published as it is, and the sync state
// of the stored one when the worker read it.
struct Merged {
    SharedSnapshot::Ptr snapshot;
    bool failed = false;
    std::optional<std::pair<std::optional<Instant>, bool>> stored;
};

// What a widget's footer says of the data, the clock aside: its dot and its words.
enum class Footer { waiting, failing, current, stale, offline };

Footer footerOf(const std::optional<Instant>& updatedAt, bool issue, Instant at) {
    if (!updatedAt)
        return issue ? Footer::failing : Footer::waiting;
    if (issue)
        return Footer::offline;
    return elapsed(*updatedAt, at) > Snapshot::freshness ? Footer::stale : Footer::current;
}

QString endpointFrom(const Settings& settings) {
    const QString stored = settings.value(AppSettings::endpoint).toString();
    return stored.isEmpty() ? QString::fromStdString(Endpoint::detect()) : stored;
}

int intervalFrom(const Settings& settings) {
    return Schedule::intervalFrom(settings.value(AppSettings::interval));
}

// Longer than any address a gateway can have (a host name is at most 253 characters); a pasted
// page of text is refused instead of being stored and sent to the resolver.
constexpr qsizetype longestEndpoint = 2048;

// What a key-store write gave: an empty failure when the key is stored.
struct KeyWrite {
    QString failure;
    int code = 0;
};

// Writes the key to the store; the text is wiped whatever the store did.
void saveKey(std::string key, const std::string& endpoint) {
    try {
        GatewayKeychain::save(key, endpoint);
    } catch (...) {
        SecretMemory::wipe(key);
        throw;
    }
    SecretMemory::wipe(key);
}

KeyWrite storeKey(std::string key, const std::string& endpoint) {
    try {
        saveKey(std::move(key), endpoint);
    } catch (const KeychainError& error) {
        return {QString::fromUtf8(error.what()), error.code()};
    } catch (const std::exception& error) {
        return {QString::fromUtf8(error.what()), 0};
    }
    return {};
}

// Runs `work` on the thread pool; the result arrives through a watcher's signal on this
// thread. One hop per cycle: every hop costs two thread wake-ups.
template <class F>
auto awaitOffThread(F work, QThreadPool* pool = Workers::pool()) -> QCoro::Task<decltype(work())> {
    using Result = decltype(work());
    QFutureWatcher<Result> watcher;
    watcher.setFuture(QtConcurrent::run(pool, std::move(work)));
    co_await qCoro(&watcher, &QFutureWatcher<Result>::finished);
    co_return watcher.future().takeResult();
}

template <class T> const T& contentOf(const T& value) {
    return value;
}
const Snapshot& contentOf(const SharedSnapshot::Ptr& published) {
    return published->snapshot();
}

// Saves `value` through `store` on `writer`; true once it is on disk. Not a coroutine itself,
// so the copies live only in the lambda. `retired`, the snapshot `value` replaces, is let go
// first: the save reads the former file back, and the old records need not be there as well.
template <class Store, class Value>
QCoro::Task<bool> saveOn(QThreadPool* writer, Store store, Value value,
                         SharedSnapshot::Ptr retired = {}) {
    return awaitOffThread(
        [store = std::move(store), value = std::move(value),
         retired = std::move(retired)]() mutable {
            retired.reset();
            try {
                store.save(contentOf(value));
                // The cycle's reads and this save's check are done; the program idles until
                // the next poll.
                Wire::releaseKeptParsers();
                return true;
            } catch (...) {
                return false;
            }
        },
        writer);
}

} // namespace

DataSyncService::DataSyncService(QObject* parent) : DataSyncService(Options{}, parent) {}

DataSyncService::DataSyncService(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), settings_(options_.settingsPath),
      store_(options_.container) {
    // One writer thread: files are synced to disk, which can take long on a busy disk, and
    // writes must land in the order they were made.
    writer_.setMaxThreadCount(1);
    if (options_.loadStored)
        readStored();
    widgetPreferences_ = WidgetPreferencesStore(options_.container).load();
    endpoint_ = endpointFrom(settings_);
    interval_ = intervalFrom(settings_);
    connect(&settings_, &Settings::changed, this, &DataSyncService::followSettings);
}

void DataSyncService::followSettings(const QString& key) {
    if (writingSettings_ ||
        (key != AppSettings::endpoint.key() && key != AppSettings::interval.key()))
        return;
    const QString endpoint = endpointFrom(settings_);
    const int interval = intervalFrom(settings_);
    if (endpoint == endpoint_ && interval == interval_)
        return;
    try {
        Endpoint::validate(endpoint.toStdString());
    } catch (const GatewayError&) {
        return; // a half-typed address in an editor; the next save will do
    }
    if (!adopt(endpoint, interval)) {
        // The running wait was computed from the old interval.
        if (wait_ && wait_->isActive())
            wait_->start(Schedule::wait(interval_, failures_).count() * options_.second);
        return;
    }
    failures_ = 0;
    refresh(true);
}

DataSyncService::~DataSyncService() = default;

void DataSyncService::setScreen(const QString& screen) {
    if (screen_ == screen)
        return;
    screen_ = screen;
    emit screenChanged();
}

void DataSyncService::setWidgetPreferences(const WidgetPreferences& preferences) {
    if (preferences == widgetPreferences_)
        return;
    widgetPreferences_ = preferences;
    emit widgetPreferencesChanged();
    savePreferences();
}

QCoro::Task<> DataSyncService::savePreferences() {
    QPointer<DataSyncService> self(this);
    // The task is made outside the co_await: g++ 12 destroys temporaries of an awaited
    // expression twice.
    auto saving = saveOn(&writer_, WidgetPreferencesStore(options_.container), widgetPreferences_);
    const bool saved = co_await std::move(saving);
    if (!self)
        co_return;
    if (!saved) {
        setStorageIssue(QString::fromUtf8(preferencesMessage));
        co_return;
    }
    WidgetCenter::reloadTimelines(DesktopWidget::kind);
}

void DataSyncService::start() {
    if (loopStarted_)
        return;
    loopStarted_ = true;
    pollingLoop(QPointer<DataSyncService>(this));
}

QCoro::Task<> DataSyncService::pollingLoop(QPointer<DataSyncService> service) {
    bool first = true;
    while (service) {
        co_await service->refresh(first);
        first = false;
        if (!service)
            co_return;
        const auto wait = Schedule::wait(service->interval_, service->failures_);
        // The timer belongs to the loop, not to the service, so that a vanished service
        // still lets the loop wake up and end.
        BootClockTimer timer;
        timer.start(wait.count() * service->options_.second);
        service->wait_ = &timer;
        co_await qCoro(&timer, &BootClockTimer::timeout);
    }
}

QCoro::Task<> DataSyncService::refresh(bool reloadWidget) {
    if (syncing_)
        co_return;
    setSyncing(true);
    QPointer<DataSyncService> self(this);
    const QString endpoint = endpoint_;
    const unsigned generation = generation_;

    // The merge and the index are made on the worker as well: with a large answer, copying,
    // comparing and freeing records would hold the GUI thread for longer than a frame.
    // A named value: a lambda temporary passed to a coroutine inside a co_await expression is
    // destroyed twice by GCC 12.
    auto work = [e = endpoint.toStdString(), options = options_.client, previous = published_,
                 store = store_, attemptedAt = now()] {
        // Without the stored snapshot in memory, its small fields are read before the answers
        // (the parse is gone before they come), its records only if the answers leave some.
        Snapshot stored;
        if (!previous)
            stored = store.summary();
        Cycle::Answers answers = ask(e, options);
        if (!previous && Cycle::keepsRecords(stored, e, answers))
            stored = store.load(false); // the summary logged what is damaged
        Merged merged;
        if (!previous)
            merged.stored.emplace(stored.updatedAt, stored.issue.has_value());
        // What was read for this cycle alone gives its kept parts away instead of copying them,
        // and the rest is freed at once.
        Snapshot start = previous
                             ? Cycle::start(previous->snapshot(), e, attemptedAt, answers)
                             : Cycle::start(std::exchange(stored, {}), e, attemptedAt, answers);
        Cycle::Result result = Cycle::merge(std::move(start), std::move(answers), now());
        merged.snapshot = SharedSnapshot::make(std::move(result.snapshot));
        merged.failed = result.failed;
        return merged;
    };
    Merged merged = co_await awaitOffThread(std::move(work));
    if (!self)
        co_return;

    const bool reconfigured = generation_ != generation;
    if (endpoint_ != endpoint) {
        // Another gateway's answers must never be shown or written; the new one is asked.
        setSyncing(false);
        emit cycleFinished();
        co_await refresh(reloadWidget || reconfigured);
        co_return;
    }
    failures_ = merged.failed ? failures_ + 1 : 0;
    if (!published_ && merged.stored)
        std::tie(writtenUpdatedAt_, writtenIssue_) = *merged.stored;
    SharedSnapshot::Ptr replaced = published_;
    setSnapshot(std::move(merged.snapshot));
    // A periodic cycle leaves the widgets alone unless what they say of the sync changes: a
    // gateway that went away must not look synced for the 20 minutes of a timeline.
    co_await persist(reloadWidget ? Reload::always : Reload::onChange, std::move(replaced));
    if (!self)
        co_return;
    setSyncing(false);
    emit cycleFinished();
    if (reconfigured) {
        // configure() ran meanwhile for this endpoint: its new key deserves its own cycle.
        co_await refresh(true);
    }
}

QCoro::Task<> DataSyncService::configure(const QString& endpoint, int interval,
                                         const QString& token) {
    return apply(endpoint, interval, &token);
}

QCoro::Task<> DataSyncService::configure(const QString& endpoint, int interval) {
    return apply(endpoint, interval, nullptr);
}

void DataSyncService::check(const QString& endpoint) {
    if (endpoint.size() > longestEndpoint)
        throw GatewayError::invalidEndpoint();
    Endpoint::validate(endpoint.toStdString());
    // Checked before the key is touched: a setting that silently stays old would make the
    // next start talk to the previous gateway.
    if (!settings_.writable())
        throw AppSettings::SettingsError();
}

// Not a coroutine: validation and key errors must reach the caller before anything changed.
QCoro::Task<> DataSyncService::apply(const QString& endpoint, int interval, const QString* token) {
    check(endpoint);
    if (token)
        saveKey(token->toStdString(), endpoint.toStdString());
    return commit(endpoint, interval);
}

QCoro::Task<DataSyncService::Saved> DataSyncService::save(QString endpoint, int interval,
                                                          std::optional<QString> key) {
    Saved saved;
    try {
        check(endpoint);
    } catch (const std::exception& e) {
        saved.failure = QString::fromUtf8(e.what());
        co_return saved;
    }
    if (key) {
        QPointer<DataSyncService> self(this);
        // The store may show its prompts and wait for the user's answer: never on this thread.
        auto work = [k = key->toStdString(), e = endpoint.toStdString()]() mutable {
            return storeKey(std::move(k), e);
        };
        auto writing = awaitOffThread(std::move(work), QThreadPool::globalInstance());
        const KeyWrite written = co_await std::move(writing); // named, as in savePreferences()
        if (!self)
            co_return saved;
        if (!written.failure.isEmpty()) {
            saved.failure = written.failure;
            saved.keyUnanswered = written.code == GatewayKeychain::unanswered;
            co_return saved;
        }
        saved.keyStored = true;
    }
    try {
        commit(endpoint, interval); // the refresh runs on its own
    } catch (const std::exception& e) {
        saved.failure = QString::fromUtf8(e.what());
    }
    co_return saved;
}

QCoro::Task<> DataSyncService::commit(const QString& endpoint, int interval) {
    // Saved before anything is adopted: a full or failing disk must not read as success.
    writingSettings_ = true;
    const bool saved = settings_.set({{AppSettings::endpoint, endpoint},
                                      {AppSettings::interval, Schedule::clampInterval(interval)}});
    writingSettings_ = false;
    if (!saved)
        throw AppSettings::SettingsError();
    ++generation_;
    adopt(endpoint, interval);
    failures_ = 0;
    return refresh(true);
}

void DataSyncService::findKey(const QString& endpoint, QObject* context,
                              std::function<void(const QString&, bool)> done) {
    offThread(
        context,
        [text = endpoint.toStdString()] {
            GatewayKeychain::Lookup lookup = GatewayKeychain::find(text);
            const QString shown = lookup.key ? QString::fromStdString(*lookup.key) : QString();
            SecretMemory::wipe(lookup.key);
            return std::pair(shown, lookup.answered);
        },
        [done = std::move(done)](std::pair<QString, bool> found) {
            done(found.first, found.second);
        });
}

QString DataSyncService::detectEndpoint() {
    return QString::fromStdString(Endpoint::detect());
}

QString DataSyncService::defaultEndpoint() {
    return QString::fromUtf8(Endpoint::defaultEndpoint.data(),
                             qsizetype(Endpoint::defaultEndpoint.size()));
}

QString DataSyncService::groupID() {
    return QString::fromStdString(SharedContainer::groupID());
}

bool DataSyncService::adopt(const QString& endpoint, int interval) {
    const bool moved = endpoint_ != endpoint;
    if (moved) {
        endpoint_ = endpoint;
        emit endpointChanged();
    }
    const int clamped = Schedule::clampInterval(interval);
    if (interval_ != clamped) {
        interval_ = clamped;
        emit intervalChanged();
    }
    const std::string text = endpoint.toStdString();
    if (snapshot().endpoint != text) {
        // Neither the windows nor the widgets may show the previous gateway's data.
        Snapshot empty;
        empty.endpoint = text;
        setSnapshot(SharedSnapshot::make(std::move(empty)));
        persist(Reload::never); // the cycle that follows reloads them
    }
    return moved;
}

QCoro::Task<> DataSyncService::persist(Reload reload, SharedSnapshot::Ptr replaced) {
    QPointer<DataSyncService> self(this);
    const std::optional<Instant> updatedAt = snapshot().updatedAt;
    const bool issue = snapshot().issue.has_value();
    // The published snapshot itself goes to the writer: no copy on this thread.
    // Made outside the co_await, as above.
    auto saving = saveOn(&writer_, store_, published_, std::move(replaced));

    const bool saved = co_await std::move(saving);
    if (!self)
        co_return;
    if (!saved) {
        setStorageIssue(QString::fromUtf8(storageMessage));
        co_return;
    }
    setStorageIssue({});
    const Instant at = now();
    const bool changed =
        footerOf(writtenUpdatedAt_, writtenIssue_, at) != footerOf(updatedAt, issue, at);
    writtenUpdatedAt_ = updatedAt;
    writtenIssue_ = issue;
    if (reload == Reload::always || (reload == Reload::onChange && changed))
        WidgetCenter::reloadTimelines(DesktopWidget::kind);
}

void DataSyncService::readStored() const {
    published_ = SharedSnapshot::make(store_.load());
    writtenUpdatedAt_ = published_->snapshot().updatedAt;
    writtenIssue_ = published_->snapshot().issue.has_value();
}

void DataSyncService::setSnapshot(SharedSnapshot::Ptr snapshot) {
    published_ = std::move(snapshot);
    emit snapshotChanged();
}

void DataSyncService::setSyncing(bool syncing) {
    if (syncing_ == syncing)
        return;
    syncing_ = syncing;
    emit syncingChanged();
}

void DataSyncService::setStorageIssue(const QString& issue) {
    if (storageIssue_ == issue)
        return;
    storageIssue_ = issue;
    emit storageIssueChanged();
}

} // namespace tessel
