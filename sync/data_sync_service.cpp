#include "sync/data_sync_service.h"

#include <QCoro/QCoroSignal>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include "gateway/endpoint.h"
#include "gateway/keychain.h"
#include "model/display.h"
#include "sync/boot_timer.h"
#include "sync/cycle.h"
#include "sync/schedule.h"
#include "sync/settings.h"
#include "sync/widget_center.h"

namespace tessel {

namespace {

constexpr char endpointKey[] = "endpoint";
constexpr char intervalKey[] = "interval";

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

// The blocking part of a cycle: the requests strictly one after another, nothing after a
// failed handshake. Errors come back as values, since QFuture would turn a non-Qt exception
// into QUnhandledException.
Cycle::Answers ask(const TesselClient& client) {
    Cycle::Answers answers;
    answers.handshake = attempt([&] { return client.hello().version; });
    if (!std::holds_alternative<std::string>(answers.handshake))
        return answers;
    answers.quotas = attempt([&] { return client.quotas(); });
    for (std::size_t i = 0; i < Cycle::periods.size(); ++i)
        answers.usage[i] = attempt([&] { return client.usage(Cycle::periods[i].wire); });
    return answers;
}

// Runs `work` on the thread pool; the result arrives through a watcher's signal on this
// thread. One hop per cycle: every hop costs two thread wake-ups.
template <class F>
auto offThread(F work, QThreadPool* pool = QThreadPool::globalInstance())
    -> QCoro::Task<decltype(work())> {
    using Result = decltype(work());
    QFutureWatcher<Result> watcher;
    watcher.setFuture(QtConcurrent::run(pool, std::move(work)));
    co_await qCoro(&watcher, &QFutureWatcher<Result>::finished);
    co_return watcher.future().result();
}

// Saves `value` through `store` on `writer`; true once it is on disk. Not a coroutine itself,
// so the copies live only in the lambda.
template <class Store, class Value>
QCoro::Task<bool> saveOn(QThreadPool* writer, Store store, Value value) {
    return offThread(
        [store = std::move(store), value = std::move(value)] {
            try {
                store.save(value);
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
    : QObject(parent), options_(std::move(options)),
      settings_(AppSettings::open(options_.settingsPath)), store_(options_.container) {
    // One writer thread: files are synced to disk, which can take long on a busy disk, and
    // writes must land in the order they were made.
    writer_.setMaxThreadCount(1);
    snapshot_ = store_.load();
    widgetPreferences_ = WidgetPreferencesStore(options_.container).load();
    const QString stored = settings_->value(endpointKey).toString();
    endpoint_ = stored.isEmpty() ? QString::fromStdString(Endpoint::detect()) : stored;
    interval_ = Schedule::intervalFrom(settings_->value(intervalKey));
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
    const std::string e = endpoint.toStdString();

    Snapshot next = Cycle::start(snapshot_, e, now());
    Cycle::Answers answers;
    // Read every cycle: a keyring that was locked at login may have been opened since.
    std::optional<std::string> key = GatewayKeychain::load(e);
    std::shared_ptr<const TesselClient> client;
    try {
        client = std::make_shared<const TesselClient>(e, std::move(key), options_.client);
    } catch (...) {
        answers.handshake = std::current_exception();
    }
    if (client) {
        // A named value: a lambda temporary passed to a coroutine inside a co_await expression
        // is destroyed twice by GCC 12.
        auto work = [client] { return ask(*client); };
        Cycle::Answers answered = co_await offThread(std::move(work));
        if (!self)
            co_return;
        answers = std::move(answered);
    }

    const bool reconfigured = generation_ != generation;
    if (endpoint_ != endpoint) {
        // Another gateway's answers must never be shown or written; the new one is asked.
        setSyncing(false);
        emit cycleFinished();
        co_await refresh(reloadWidget || reconfigured);
        co_return;
    }
    Cycle::Result result = Cycle::merge(std::move(next), answers, now());
    failures_ = result.failed ? failures_ + 1 : 0;
    setSnapshot(std::move(result.snapshot));
    co_await persist(reloadWidget);
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

// Not a coroutine: validation and key errors must reach the caller before anything changed.
QCoro::Task<> DataSyncService::apply(const QString& endpoint, int interval, const QString* token) {
    const std::string text = endpoint.toStdString();
    Endpoint::validate(text);
    // Checked before the key is touched: a setting that silently stays old would make the
    // next start talk to the previous gateway.
    if (!settings_->isWritable())
        throw AppSettings::SettingsError();
    if (token)
        GatewayKeychain::save(token->toStdString(), text);

    ++generation_;
    if (endpoint_ != endpoint) {
        endpoint_ = endpoint;
        emit endpointChanged();
    }
    const int clamped = Schedule::clampInterval(interval);
    if (interval_ != clamped) {
        interval_ = clamped;
        emit intervalChanged();
    }
    settings_->setValue(endpointKey, endpoint);
    settings_->setValue(intervalKey, clamped);
    settings_->sync();

    if (snapshot_.endpoint != text) {
        Snapshot empty;
        empty.endpoint = text;
        setSnapshot(std::move(empty));
        persist(false);
    }
    failures_ = 0;
    return refresh(true);
}

QCoro::Task<> DataSyncService::persist(bool reloadWidget) {
    QPointer<DataSyncService> self(this);
    auto saving = saveOn(&writer_, store_, snapshot_); // outside the co_await, as above
    const bool saved = co_await std::move(saving);
    if (!self)
        co_return;
    if (!saved) {
        setStorageIssue(QString::fromUtf8(storageMessage));
        co_return;
    }
    setStorageIssue({});
    if (reloadWidget)
        WidgetCenter::reloadTimelines(DesktopWidget::kind);
}

void DataSyncService::setSnapshot(Snapshot snapshot) {
    snapshot_ = std::move(snapshot);
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
