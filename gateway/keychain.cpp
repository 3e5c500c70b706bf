#include "gateway/keychain.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <libsecret/secret.h>

namespace tessel {

KeychainError::KeychainError(int code, std::string message)
    : std::runtime_error(std::move(message)), code_(code) {}

namespace GatewayKeychain {

namespace {

// Each message is the whole sentence the user reads; callers add nothing in front.
const char* const unavailable = "无法保存 Gateway 密钥：系统密钥环不可用。";
const char* const unsendable = "Gateway 密钥不能包含换行符或空字符。";

// Items are found by their two attributes alone, whatever schema name an older build wrote.
const SecretSchema* schema() {
    static const SecretSchema s = {"net.quorvane.TesselWidget.gateway",
                                   SECRET_SCHEMA_DONT_MATCH_NAME,
                                   {{"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

// No Secret Service on the bus may mean a D-Bus activation that never answers, or an unlock
// prompt nobody sees. Every call is cancelled after this long so the caller never hangs.
constexpr std::chrono::seconds callLimit{5};

// Cancels its cancellable when the limit passes before the guarded call returns.
class Watchdog {
public:
    Watchdog() : cancellable_(g_cancellable_new()) {
        thread_ = std::thread([this] {
            std::unique_lock lock(mutex_);
            if (!done_.wait_for(lock, callLimit, [this] { return finished_; }))
                g_cancellable_cancel(cancellable_);
        });
    }
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
        g_object_unref(cancellable_);
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;
    GCancellable* cancellable() const { return cancellable_; }

private:
    GCancellable* cancellable_;
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

// Failures to reach the service (no bus, nobody owning the name, cancelled by the watchdog)
// get one clear message; the service's own refusals keep theirs.
[[noreturn]] void raise(Error error) {
    const bool reachable = error->domain == SECRET_ERROR;
    const int code = error->code;
    if (!reachable)
        throw KeychainError(code, unavailable);
    throw KeychainError(code, error->message && *error->message
                                  ? std::string("无法保存 Gateway 密钥：") + error->message
                                  : std::string(unavailable));
}

} // namespace

std::optional<std::string> load(std::string_view endpoint) {
    const std::string account(endpoint);
    Watchdog watchdog;
    GError* raw = nullptr;
    SecretValue* value = secret_password_lookup_binary_sync(schema(), watchdog.cancellable(), &raw,
                                                            "service", std::string(service).c_str(),
                                                            "account", account.c_str(), nullptr);
    Error error(raw);
    if (!value)
        return std::nullopt;
    gsize length = 0;
    const gchar* data = secret_value_get(value, &length);
    std::optional<std::string> key;
    if (data && g_utf8_validate_len(data, length, nullptr))
        key.emplace(data, length);
    secret_value_unref(value);
    return key;
}

void save(std::string_view key, std::string_view endpoint) {
    // The client refuses to send such a key, so storing it would only lose it; and a NUL would
    // survive in the store but not in a reader that stops at it.
    if (key.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        throw KeychainError(invalidKey, unsendable);
    const std::string account(endpoint);
    const std::string serviceName(service);
    Watchdog watchdog;
    GError* raw = nullptr;
    if (key.empty()) {
        // FALSE without an error means there was nothing to delete, which is what was asked.
        secret_password_clear_sync(schema(), watchdog.cancellable(), &raw, "service",
                                   serviceName.c_str(), "account", account.c_str(), nullptr);
        if (raw)
            raise(Error(raw));
        return;
    }
    const std::string label = "Tessel Gateway 密钥 (" + account + ")";
    SecretValue* value =
        secret_value_new(key.data(), static_cast<gssize>(key.size()), "text/plain");
    // Storing replaces the item with the same attributes, so this is update-or-add in one call.
    const gboolean stored = secret_password_store_binary_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.c_str(), value, watchdog.cancellable(), &raw,
        "service", serviceName.c_str(), "account", account.c_str(), nullptr);
    secret_value_unref(value);
    if (!stored)
        raise(Error(raw ? raw : g_error_new_literal(G_IO_ERROR, G_IO_ERROR_FAILED, unavailable)));
}

} // namespace GatewayKeychain

} // namespace tessel
