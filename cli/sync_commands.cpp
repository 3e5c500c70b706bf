// tesselctl refresh | configure | status: the application's own sync service, from a shell.
// Built only with the Qt sync library (TESSEL_BUILD_GUI).
#ifdef TESSEL_HAVE_SYNC

#include <QCoreApplication>

#include <QCoro/QCoroTask>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cmath>
#include <istream>
#include <iterator>
#include <ostream>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "gateway/endpoint.h"
#include "gateway/errors.h"
#include "gateway/keychain.h"
#include "gateway/secret_memory.h"
#include "storage/snapshot_store.h"
#include "sync/data_sync_service.h"
#include "sync/menu_title.h"
#include "sync/settings.h"
#include "sync/widget_center.h"

namespace tessel::cli {

namespace {

// The service's tasks and the reload signal need an event loop and a bus connection.
QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "tesselctl";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    return app ? *app : *QCoreApplication::instance();
}

// Prints the outcome; 1 when the cycle left a problem, so that scripts notice.
int report(const DataSyncService& service, Io& io) {
    const Snapshot& snapshot = service.snapshot();
    io.out << snapshot.status() << '\n';
    if (snapshot.issue)
        io.out << *snapshot.issue << '\n';
    if (!service.storageIssue().isEmpty())
        io.err << service.storageIssue().toStdString() << '\n';
    return snapshot.issue || !service.storageIssue().isEmpty() ? 1 : 0;
}

int refresh(const QCommandLineParser& line, Io& io) {
    if (!line.positionalArguments().isEmpty())
        return usageError("refresh", io);
    SecretMemory::forbidCoreDumps(); // the cycle reads the key
#ifdef __GLIBC__
    // Large buffers (the stored snapshot's text, the answers, the parsers) are mapped for
    // themselves and unmapped when freed. glibc would otherwise raise its threshold once the
    // stored file's buffers are freed, and the quotas answer's would then stay resident in the
    // worker's heap, which no trim reaches, beside the records and the save.
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
#endif
    application();
    // Nothing shows the stored snapshot before the cycle: it need not be in memory beside the
    // answers.
    DataSyncService::Options options;
    options.loadStored = false;
    DataSyncService service(std::move(options));
    QCoro::waitFor(service.refresh(true));
    WidgetCenter::flush();
    return report(service, io);
}

void wipe(QString& text) {
    // Only a buffer no one else shares is ours to overwrite.
    if (text.isDetached())
        SecretMemory::wipe(text.data(), std::size_t(text.capacity()) * sizeof(QChar));
    text.clear();
}

std::string trimmed(std::string text) {
    const auto space = " \t\r\n";
    text.erase(0, text.find_first_not_of(space));
    text.erase(text.find_last_not_of(space) + 1);
    return text;
}

constexpr std::string_view configureSynopsis =
    "configure --endpoint 地址 [--interval 秒] [--token-stdin]";
const QCommandLineOption endpointOption(QStringLiteral("endpoint"), {}, QStringLiteral("URL"));
const QCommandLineOption intervalOption(QStringLiteral("interval"), {}, QStringLiteral("S"));
const QCommandLineOption tokenOption(QStringLiteral("token-stdin"));

int configure(const QCommandLineParser& line, Io& io) {
    if (!line.isSet(endpointOption) || !line.positionalArguments().isEmpty())
        return usageError(configureSynopsis, io);
    const std::string endpoint = line.value(endpointOption).toStdString();
    const bool tokenFromInput = line.isSet(tokenOption);
    std::optional<int> interval;
    if (line.isSet(intervalOption)) {
        const std::string text = line.value(intervalOption).toStdString();
        try {
            std::size_t used = 0;
            interval = std::stoi(text, &used);
            if (used != text.size())
                throw std::invalid_argument("trailing text");
        } catch (const std::logic_error&) {
            io.err << "tesselctl：间隔必须是秒数\n";
            return 2;
        }
    }

    if (tokenFromInput)
        SecretMemory::forbidCoreDumps();
    application();
    DataSyncService service;
    const QString text = QString::fromStdString(trimmed(endpoint));
    const int seconds = interval.value_or(service.interval());
    std::optional<QCoro::Task<>> started;
    try {
        if (tokenFromInput) {
            std::string input(std::istreambuf_iterator<char>(io.in), {});
            std::string key = trimmed(input);
            SecretMemory::wipe(input);
            QString token = QString::fromStdString(key);
            SecretMemory::wipe(key);
            try {
                started.emplace(service.configure(text, seconds, token));
            } catch (...) {
                wipe(token);
                throw;
            }
            wipe(token);
        } else {
            started.emplace(service.configure(text, seconds));
        }
    } catch (const GatewayError& e) {
        io.err << e.errorDescription() << '\n';
        return 1;
    } catch (const KeychainError& e) {
        io.err << e.what() << '\n';
        return 1;
    } catch (const std::exception& e) {
        io.err << e.what() << '\n';
        return 1;
    }
    QCoro::waitFor(std::move(*started));
    WidgetCenter::flush();
    report(service, io);
    return 0;
}

// Plain: the title, the status and the issue, a line each. --line: one line for bars that
// show one (Polybar). --json: one object with Waybar's custom-module fields, the details in its
// tooltip. Bars show "Tessel 62%", and "Tessel" alone while there is no figure.
const QCommandLineOption jsonOption(QStringLiteral("json"));
const QCommandLineOption lineOption(QStringLiteral("line"));

int status(const QCommandLineParser& arguments, Io& io) {
    if (!arguments.positionalArguments().isEmpty() ||
        (arguments.isSet(jsonOption) && arguments.isSet(lineOption)))
        return usageError("status [--json|--line]", io);
    const std::string mode = arguments.isSet(jsonOption)   ? "--json"
                             : arguments.isSet(lineOption) ? "--line"
                                                           : "";
    const Snapshot snapshot = SnapshotStore().load();
    const std::string menuQuota =
        Settings({}, Settings::Follow::none).value(AppSettings::menuQuota).toString().toStdString();
    const auto now = std::chrono::system_clock::now();
    const std::string title = menuBarTitle(snapshot, menuQuota);
    const std::optional<double> percent = menuBarPercent(snapshot, menuQuota);
    if (mode.empty()) {
        io.out << title << '\n' << snapshot.status(now) << '\n';
        if (snapshot.issue)
            io.out << *snapshot.issue << '\n';
        return 0;
    }
    const std::string label = percent ? "Tessel " + title : title;
    if (mode == "--line") {
        io.out << label << " · " << snapshot.status(now) << '\n';
        return 0;
    }
    std::string tooltip;
    if (percent)
        tooltip = menuBarSubscription(snapshot, menuQuota) + "\n";
    tooltip += snapshot.status(now);
    if (snapshot.issue)
        tooltip += "\n" + *snapshot.issue;
    // The state as the tray shows it; "issue" stands beside "offline" for style sheets that match
    // that name. "low" stands beside any of them; "alt" names the one an icon should show.
    const std::string state = snapshot.issue ? "offline" : snapshot.stale(now) ? "stale" : "ok";
    const bool low = percent && *percent < lowQuotaPercent;
    nlohmann::ordered_json classes = nlohmann::ordered_json::array({state});
    if (snapshot.issue)
        classes.push_back("issue");
    if (low)
        classes.push_back("low");
    nlohmann::ordered_json line = {{"text", label},
                                   {"tooltip", tooltip},
                                   {"class", classes},
                                   {"alt", state == "offline" || !low ? state : "low"}};
    if (percent)
        line["percentage"] = static_cast<int>(std::clamp(std::trunc(*percent), 0.0, 100.0));
    // Gateway texts are not trusted to be valid UTF-8; a status bar must still get a line.
    io.out << line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    return 0;
}

} // namespace

// As the service reads it.
std::string defaultEndpoint() {
    const QString stored =
        Settings({}, Settings::Follow::none).value(AppSettings::endpoint).toString();
    return stored.isEmpty() ? Endpoint::detect() : stored.toStdString();
}

namespace {

const bool registered =
    registerCommand({"refresh", "refresh",
                     "同步一次，保存快照并请求小组件刷新；同步有问题时退出状态为 1", &refresh}) &&
    registerCommand({"configure",
                     configureSynopsis,
                     "保存 Gateway 地址和刷新间隔，然后同步一次；--token-stdin 从标准输入读取 "
                     "Gateway 密钥，空行删除已保存的密钥",
                     &configure,
                     {endpointOption, intervalOption, tokenOption}}) &&
    registerCommand({"status",
                     "status [--json|--line]",
                     "已保存快照的状态，不联系 Gateway（--json 给 Waybar，--line 给 Polybar）",
                     &status,
                     {jsonOption, lineOption}});

} // namespace

} // namespace tessel::cli

#endif // TESSEL_HAVE_SYNC
