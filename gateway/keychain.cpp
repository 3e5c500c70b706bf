#include "gateway/keychain.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include <libsecret/secret.h>

namespace tessel {

KeychainError::KeychainError(int code, std::string message)
    : std::runtime_error(std::move(message)), code_(code) {}

namespace GatewayKeychain {

// Each message is the whole sentence the user reads; callers add nothing in front.
const char* const unsendable = "Gateway 密钥不能包含换行符、制表符等控制字符。";

namespace {

const char* const unavailable = "无法保存 Gateway 密钥：系统密钥环不可用。";
const char* const locked = "无法保存 Gateway 密钥：密钥环已锁定。";
const char* const refused = "无法保存 Gateway 密钥：密钥环拒绝了这个请求。";
const char* const closedUnsaved = "密钥环的提示已关闭，Gateway 密钥未保存。";
const char* const closedUndeleted = "密钥环的提示已关闭，Gateway 密钥未删除。";
const char* const maybeSaved = "密钥环未及时响应，密钥可能已保存。";
const char* const maybeDeleted = "密钥环未及时响应，密钥可能已删除。";

// Items are found by their two attributes alone, whatever schema name they were stored under
// (secret-tool and other clients of the keyring write their own).
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

// No Secret Service on the bus may mean a D-Bus activation that never answers, or a service
// that hangs. A call the service leaves unanswered this long is cancelled, so the caller never
// hangs; a prompt the user is answering is not such a call.
constexpr std::chrono::seconds callLimit{5};

// One key-store call on this thread, as the prompt hooks and its guard see it.
struct Call {
    std::atomic<bool> prompting{false};
    bool dismissed = false;
};
thread_local Call* current = nullptr;

class CallScope {
public:
    explicit CallScope(Call& call) : previous_(std::exchange(current, &call)) {}
    ~CallScope() { current = previous_; }
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    Call* previous_;
};

// A Secret Service proxy that tells the running call when a prompt opens and whether the user
// dismissed it. libsecret runs the prompts of a synchronous call on the calling thread, and hands
// a dismissed prompt's result on like any other: the prompt's own Completed signal says which.
struct PromptingService {
    SecretService parent;
};
struct PromptingServiceClass {
    SecretServiceClass parent;
};
G_DEFINE_TYPE(PromptingService, prompting_service, SECRET_TYPE_SERVICE)

SecretServiceClass* base() {
    return SECRET_SERVICE_CLASS(prompting_service_parent_class);
}

// One prompt: its result goes to the caller once both libsecret and the signal have spoken.
struct Prompting {
    GTask* task;
    GDBusConnection* bus;
    guint subscription = 0;
    bool completed = false;
    bool dismissed = false;
    bool finished = false;
    GVariant* answer = nullptr;
    GError* error = nullptr;
};

void deliver(Prompting* p) {
    g_dbus_connection_signal_unsubscribe(p->bus, p->subscription);
    if (current) {
        current->prompting = false;
        current->dismissed = current->dismissed || p->dismissed;
    }
    if (p->error)
        g_task_return_error(p->task, p->error);
    else
        g_task_return_pointer(p->task, p->answer, GDestroyNotify(g_variant_unref));
    g_object_unref(p->task);
    g_object_unref(p->bus);
    delete p;
}

void onCompleted(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                 GVariant* parameters, gpointer data) {
    auto* p = static_cast<Prompting*>(data);
    if (p->completed || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bv)")))
        return;
    gboolean dismissed = FALSE;
    GVariant* result = nullptr;
    g_variant_get(parameters, "(bv)", &dismissed, &result);
    g_variant_unref(result);
    p->completed = true;
    p->dismissed = dismissed;
    if (p->finished)
        deliver(p);
}

// libsecret finishes on the same Completed signal, so after an answer the signal is on its way.
void onPrompted(GObject* source, GAsyncResult* result, gpointer data) {
    auto* p = static_cast<Prompting*>(data);
    p->answer = base()->prompt_finish(SECRET_SERVICE(source), result, &p->error);
    p->finished = true;
    if (p->completed || p->error)
        deliver(p);
}

void promptAsync(SecretService* self, SecretPrompt* prompt, const GVariantType* type,
                 GCancellable* cancellable, GAsyncReadyCallback callback, gpointer data) {
    if (current)
        current->prompting = true;
    GDBusProxy* proxy = G_DBUS_PROXY(prompt);
    auto* p = new Prompting{g_task_new(self, cancellable, callback, data),
                            G_DBUS_CONNECTION(g_object_ref(g_dbus_proxy_get_connection(proxy)))};
    p->subscription = g_dbus_connection_signal_subscribe(
        p->bus, nullptr, "org.freedesktop.Secret.Prompt", "Completed",
        g_dbus_proxy_get_object_path(proxy), nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onCompleted, p,
        nullptr);
    base()->prompt_async(self, prompt, type, cancellable, onPrompted, p);
}

GVariant* promptFinish(SecretService*, GAsyncResult* result, GError** error) {
    return static_cast<GVariant*>(g_task_propagate_pointer(G_TASK(result), error));
}

void prompting_service_init(PromptingService*) {}

void prompting_service_class_init(PromptingServiceClass* type) {
    type->parent.prompt_async = promptAsync;
    type->parent.prompt_finish = promptFinish;
}

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};
using Error = std::unique_ptr<GError, ErrorFree>;

// Whether the service at the other end of `service` still answers a plain request.
bool answers(SecretService* service, GCancellable* cancellable) {
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        g_dbus_proxy_get_connection(proxy), g_dbus_proxy_get_name(proxy),
        g_dbus_proxy_get_object_path(proxy), "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.Secret.Service", "Collections"), nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, int(std::chrono::milliseconds(callLimit).count()),
        cancellable, &error);
    if (reply)
        g_variant_unref(reply);
    Error failed(error);
    return reply != nullptr;
}

// Cancels its call once the service has left it unanswered for the limit. While the call's
// prompt is open, the service is asked each period whether it still answers, and the call
// waits as long as it does.
class Guard {
public:
    explicit Guard(Call& call)
        : call_(call), cancellable_(g_cancellable_new()), probe_(g_cancellable_new()) {
        thread_ = std::thread([this] { run(); });
    }
    ~Guard() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        g_cancellable_cancel(probe_);
        thread_.join();
        g_clear_object(&service_);
        g_object_unref(probe_);
        g_object_unref(cancellable_);
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

    GCancellable* cancellable() const { return cancellable_; }
    // From here on the request may have reached `service`.
    void watch(SecretService* service) {
        std::lock_guard lock(mutex_);
        service_ = SECRET_SERVICE(g_object_ref(service));
    }
    bool fired() const { return fired_; }

private:
    void run() {
        std::unique_lock lock(mutex_);
        while (!done_.wait_for(lock, callLimit, [this] { return finished_; })) {
            if (call_.prompting && service_) {
                SecretService* service = SECRET_SERVICE(g_object_ref(service_));
                lock.unlock();
                const bool alive = answers(service, probe_);
                g_object_unref(service);
                lock.lock();
                if (alive || finished_)
                    continue;
            }
            fired_ = true;
            g_cancellable_cancel(cancellable_);
            return;
        }
    }

    Call& call_;
    GCancellable* cancellable_;
    GCancellable* probe_;
    SecretService* service_ = nullptr;
    std::atomic<bool> fired_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// One connection to the service for the process, opened again when another process owns the
// service's name (the keyring was restarted, its session is gone).
// Never destroyed: a lookup still running on a worker thread at exit must not find it gone.
struct Cache {
    std::mutex mutex;
    SecretService* service = nullptr;
    std::string owner;
};
Cache& cache = *new Cache;

std::string ownerOf(GDBusProxy* proxy, GCancellable* cancellable) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        g_dbus_proxy_get_connection(proxy), "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", "GetNameOwner", g_variant_new("(s)", g_dbus_proxy_get_name(proxy)),
        G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NONE,
        int(std::chrono::milliseconds(callLimit).count()), cancellable, &error);
    Error failed(error);
    if (!reply)
        return {};
    const gchar* owner = nullptr;
    g_variant_get(reply, "(&s)", &owner);
    std::string text(owner ? owner : "");
    g_variant_unref(reply);
    return text;
}

// A reference to the service, or nullptr with `error` set; nothing of the caller's request has
// been sent then.
SecretService* openService(GCancellable* cancellable, GError** error) {
    std::lock_guard lock(cache.mutex);
    if (cache.service) {
        const std::string owner = ownerOf(G_DBUS_PROXY(cache.service), cancellable);
        if (!owner.empty() && owner == cache.owner)
            return SECRET_SERVICE(g_object_ref(cache.service));
        g_clear_object(&cache.service);
    }
    SecretService* service = secret_service_open_sync(
        prompting_service_get_type(), nullptr, SECRET_SERVICE_OPEN_SESSION, cancellable, error);
    if (!service)
        return nullptr;
    gchar* owner = g_dbus_proxy_get_name_owner(G_DBUS_PROXY(service));
    cache.owner = owner ? owner : "";
    g_free(owner);
    cache.service = SECRET_SERVICE(g_object_ref(service));
    return service;
}

struct TableFree {
    void operator()(GHashTable* t) const { g_hash_table_unref(t); }
};
using Attributes = std::unique_ptr<GHashTable, TableFree>;

Attributes attributes(const std::string& account) {
    return Attributes(secret_attributes_build(schema(), "service", std::string(service).c_str(),
                                              "account", account.c_str(), nullptr));
}

bool lostOnTheWay(const GError* error) {
    return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NO_REPLY) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMEOUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_TIMED_OUT) ||
           g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_DISCONNECTED) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED) ||
           g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

// The service's refusals come in English; the user reads one Chinese sentence per case. A
// request that went out and got no answer may still be carried out: that is said, not hidden.
[[noreturn]] void refuse(const GError* error, const Call& call, bool fired, bool removing) {
    const int code = error ? error->code : 0;
    if (fired || lostOnTheWay(error))
        throw KeychainError(unanswered, removing ? maybeDeleted : maybeSaved);
    if (call.dismissed)
        throw KeychainError(dismissed, removing ? closedUndeleted : closedUnsaved);
    if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED))
        throw KeychainError(code, locked);
    if (g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER))
        throw KeychainError(code, unavailable);
    throw KeychainError(code, refused);
}

// Deletes every item of the account; locked ones are unlocked first, which may prompt.
bool clear(SecretService* service, GHashTable* match, GCancellable* cancellable, GError** error,
           bool& lockedLeft) {
    GList* items = secret_service_search_sync(
        service, schema(), match, SecretSearchFlags(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK),
        cancellable, error);
    if (*error)
        return false;
    bool deleted = true;
    for (GList* it = items; it && deleted; it = it->next) {
        SecretItem* item = SECRET_ITEM(it->data);
        if (secret_item_get_locked(item))
            lockedLeft = true;
        else
            deleted = secret_item_delete_sync(item, cancellable, error);
    }
    g_list_free_full(items, g_object_unref);
    return deleted && !lockedLeft;
}

} // namespace

bool sendable(std::string_view key) {
    // RFC 9110 field values carry visible characters, spaces and tabs; a tab (or any other
    // control character) in a key is a pasting accident, and no gateway issues one.
    for (const char c : key) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f)
            return false;
    }
    return true;
}

Lookup find(std::string_view endpoint) {
    Lookup lookup;
    Call call;
    const CallScope scope(call);
    GError* raw = nullptr;
    SecretValue* value = nullptr;
    {
        Guard guard(call);
        SecretService* service = openService(guard.cancellable(), &raw);
        if (!service) {
            g_clear_error(&raw);
            return lookup;
        }
        guard.watch(service);
        value = secret_service_lookup_sync(
            service, schema(), attributes(std::string(endpoint)).get(), guard.cancellable(), &raw);
        g_object_unref(service);
    }
    Error error(raw);
    lookup.answered = !error && !call.dismissed;
    if (!value)
        return lookup;
    gsize length = 0;
    const gchar* data = secret_value_get(value, &length);
    if (data && g_utf8_validate_len(data, length, nullptr))
        lookup.key.emplace(data, length);
    secret_value_unref(value);
    return lookup;
}

std::optional<std::string> load(std::string_view endpoint) {
    return find(endpoint).key;
}

void save(std::string_view key, std::string_view endpoint) {
    // The client refuses to send such a key, so storing it would only lose it; and a NUL would
    // survive in the store but not in a reader that stops at it.
    if (!sendable(key))
        throw KeychainError(invalidKey, unsendable);
    const std::string account(endpoint);
    const bool removing = key.empty();
    Call call;
    const CallScope scope(call);
    Guard guard(call);
    GError* raw = nullptr;
    SecretService* service = openService(guard.cancellable(), &raw);
    if (!service) {
        // Nothing was sent: the store is as it was.
        Error error(raw);
        throw KeychainError(error ? error->code : 0, unavailable);
    }
    guard.watch(service);
    const Attributes match = attributes(account);
    bool lockedLeft = false;
    bool done = false;
    if (removing) {
        done = clear(service, match.get(), guard.cancellable(), &raw, lockedLeft);
    } else {
        const std::string label = "Tessel Gateway 密钥 (" + account + ")";
        SecretValue* value =
            secret_value_new(key.data(), static_cast<gssize>(key.size()), "text/plain");
        // Storing replaces the item with the same attributes, so this is update-or-add in one
        // call; it creates or unlocks the default keyring first when needed, with a prompt.
        done = secret_service_store_sync(service, schema(), match.get(), SECRET_COLLECTION_DEFAULT,
                                         label.c_str(), value, guard.cancellable(), &raw);
        secret_value_unref(value);
    }
    g_object_unref(service);
    Error error(raw);
    if (done)
        return;
    if (lockedLeft && !error && !call.dismissed)
        throw KeychainError(0, locked);
    refuse(error.get(), call, guard.fired(), removing);
}

} // namespace GatewayKeychain

} // namespace tessel
