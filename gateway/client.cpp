#include "gateway/client.h"

#include <curl/curl.h>

#include <nlohmann/json.hpp>

#include <cstring>
#include <memory>

#include "gateway/errors.h"
#include "gateway/keychain.h"
#include "gateway/secret_memory.h"

namespace tessel {

namespace {

constexpr const char* userAgent = "TesselWidget/1.0";

// One fixed negative code per kind of transport failure, whatever libcurl calls it, so that
// the messages and the log tell the failures apart.
namespace code {
constexpr int unknown = -1;
constexpr int badUrl = -1000;
constexpr int timedOut = -1001;
constexpr int cannotFindHost = -1003;
constexpr int cannotConnectToHost = -1004;
constexpr int networkConnectionLost = -1005;
constexpr int badServerResponse = -1011;
constexpr int dataLengthExceedsMaximum = -1103;
constexpr int secureConnectionFailed = -1200;
constexpr int serverCertificateUntrusted = -1202;
constexpr int clientCertificateRejected = -1205;
} // namespace code

void initCurlOnce() {
    // A function-local static is initialised exactly once, even with racing worker threads.
    static const CURLcode init = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (init != CURLE_OK)
        throw UrlLoadingError(code::unknown, "curl_global_init failed");
}

struct EasyDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
// The list holds the Authorization line: wiped before it goes back to the allocator.
struct SlistDeleter {
    void operator()(curl_slist* list) const {
        for (curl_slist* item = list; item; item = item->next)
            SecretMemory::wipe(item->data, std::strlen(item->data));
        curl_slist_free_all(list);
    }
};

// Everything one exchange shares with libcurl's callbacks.
struct Exchange {
    CURL* curl = nullptr;
    std::string body;
    std::size_t maxBody = 0;
    long rejectedStatus = 0; // a non-200 status seen before its body: not worth receiving
    bool tooLarge = false;
    bool stalled = false;
    std::chrono::milliseconds stallLimit{0};
    std::chrono::steady_clock::time_point lastProgress;
    curl_off_t lastBytes = 0;
};

size_t onBody(char* data, size_t size, size_t count, void* userdata) {
    auto& x = *static_cast<Exchange*>(userdata);
    const size_t n = size * count;
    long status = 0;
    curl_easy_getinfo(x.curl, CURLINFO_RESPONSE_CODE, &status);
    if (status != 200) {
        x.rejectedStatus = status;
        return CURL_WRITEFUNC_ERROR;
    }
    if (n > x.maxBody - x.body.size()) {
        x.tooLarge = true;
        return CURL_WRITEFUNC_ERROR;
    }
    if (x.body.empty()) {
        // Sized once from the announced length, with the spare bytes the reader needs to parse
        // it in place: no doubling copies while it arrives, no padded copy afterwards.
        curl_off_t length = -1;
        if (curl_easy_getinfo(x.curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
            length > 0 && static_cast<std::uint64_t>(length) <= x.maxBody)
            x.body.reserve(static_cast<std::size_t>(length) + Wire::padding);
    }
    x.body.append(data, n);
    return n;
}

// Aborts when no byte has moved for stallLimit: the "longest wait for more data".
int onProgress(void* userdata, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
    auto& x = *static_cast<Exchange*>(userdata);
    const auto now = std::chrono::steady_clock::now();
    const curl_off_t bytes = dlnow + ulnow;
    if (bytes != x.lastBytes) {
        x.lastBytes = bytes;
        x.lastProgress = now;
        return 0;
    }
    if (now - x.lastProgress >= x.stallLimit) {
        x.stalled = true;
        return 1;
    }
    return 0;
}

int transportCode(CURLcode rc) {
    switch (rc) {
    case CURLE_URL_MALFORMAT:
        return code::badUrl;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return code::cannotFindHost;
    case CURLE_COULDNT_CONNECT:
    case CURLE_INTERFACE_FAILED:
    case CURLE_PROXY:
        return code::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return code::timedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return code::networkConnectionLost;
    case CURLE_FILESIZE_EXCEEDED:
        return code::dataLengthExceedsMaximum;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return code::badServerResponse;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
        return code::serverCertificateUntrusted;
    case CURLE_SSL_CERTPROBLEM:
        return code::clientCertificateRejected;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CLIENTCERT:
        return code::secureConnectionFailed;
    default:
        return code::unknown;
    }
}

// Percent-encodes everything but RFC 3986 unreserved characters, so that "&", "=", "+" and
// "#" inside a value can never change the meaning of the query.
std::string escape(CURL* curl, std::string_view text) {
    std::unique_ptr<char, decltype(&curl_free)> out(
        curl_easy_escape(curl, text.data(), static_cast<int>(text.size())), &curl_free);
    if (!out)
        throw UrlLoadingError(code::badUrl, "cannot encode the request URL");
    return out.get();
}

std::string requestUrl(CURL* curl, const EndpointUrl& base, std::string_view path,
                       const TesselClient::Query& query) {
    std::string url = base.text;
    if (!url.empty() && url.back() == '/')
        url.pop_back();
    // Each path component is escaped on its own; the separators stay.
    while (!path.empty() && path.front() == '/')
        path.remove_prefix(1);
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t slash = std::min(path.find('/', start), path.size());
        url += '/';
        url += escape(curl, path.substr(start, slash - start));
        start = slash + 1;
        if (slash == path.size())
            break;
    }
    char separator = '?';
    for (const auto& [name, value] : query) {
        url += separator;
        url += escape(curl, name);
        url += '=';
        url += escape(curl, value);
        separator = '&';
    }
    return url;
}

bool isLocalHost(const std::string& host) {
    return host == "localhost" || host == "127.0.0.1" || host == "::1";
}

} // namespace

TesselClient::TesselClient(std::string_view endpoint, std::optional<std::string> token,
                           ClientOptions options) try
    : base_(Endpoint::validate(endpoint)), token_(std::move(token)), options_(options) {
    SecretMemory::wipe(token); // what a short key left in the moved-from buffer
} catch (...) {
    SecretMemory::wipe(token);
}

TesselClient::TesselClient(const TesselClient& other) = default;

TesselClient::~TesselClient() {
    SecretMemory::wipe(token_);
}

std::string TesselClient::fetch(std::string_view path, const Query& query) const {
    initCurlOnce();
    std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
    if (!curl)
        throw UrlLoadingError(code::unknown, "curl_easy_init failed");
    CURL* h = curl.get();

    const std::string url = requestUrl(h, base_, path, query);

    // Only the two headers of the protocol; an empty "Accept:" removes curl's default one.
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    auto addHeader = [&headers](const std::string& line) {
        curl_slist* next = curl_slist_append(headers.get(), line.c_str());
        if (!next)
            throw UrlLoadingError(code::unknown, "out of memory");
        (void)headers.release();
        headers.reset(next);
    };
    addHeader("Accept:");
    if (token_ && !token_->empty()) {
        // A line break would smuggle headers into the request, other control characters are
        // not header text: such a key is never sent, and the user reads why.
        if (!GatewayKeychain::sendable(*token_))
            throw KeychainError(GatewayKeychain::invalidKey, GatewayKeychain::unsendable);
        std::string line = "Authorization: Bearer " + *token_;
        try {
            addHeader(line);
        } catch (...) {
            SecretMemory::wipe(line);
            throw;
        }
        SecretMemory::wipe(line);
    }

    Exchange x;
    x.curl = h;
    x.maxBody = options_.maxBodyBytes;
    x.stallLimit = options_.requestTimeout;
    x.lastProgress = std::chrono::steady_clock::now();

    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options_.resourceTimeout.count()));
    curl_easy_setopt(
        h, CURLOPT_CONNECTTIMEOUT_MS,
        static_cast<long>(std::min(options_.requestTimeout, options_.resourceTimeout).count()));
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &x);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &x);
    curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(x.maxBody));
    // The key must never reach a proxy on its way to a gateway on this machine.
    curl_easy_setopt(h, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    if (isLocalHost(base_.host))
        curl_easy_setopt(h, CURLOPT_PROXY, "");

    const CURLcode rc = curl_easy_perform(h);
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);

    if (x.rejectedStatus != 0)
        throw GatewayError::http(static_cast<int>(x.rejectedStatus));
    if (x.tooLarge)
        throw UrlLoadingError(code::dataLengthExceedsMaximum, "data length exceeds maximum");
    if (x.stalled)
        throw UrlLoadingError(code::timedOut, "no data within the request time-out");
    if (rc == CURLE_FILESIZE_EXCEEDED && status != 200 && status != 0)
        throw GatewayError::http(static_cast<int>(status));
    if (rc == CURLE_UNSUPPORTED_PROTOCOL || (rc == CURLE_WEIRD_SERVER_REPLY && status == 0))
        throw GatewayError::wrongServer(); // the peer does not speak HTTP
    if (rc != CURLE_OK)
        throw UrlLoadingError(transportCode(rc), curl_easy_strerror(rc));
    if (status != 200)
        throw GatewayError::http(static_cast<int>(status));
    if (x.body.capacity() - x.body.size() < Wire::padding)
        x.body.reserve(x.body.size() + Wire::padding); // an answer of unannounced length
    return std::move(x.body);
}

template <>
TesselClient::Hello TesselClient::get<TesselClient::Hello>(std::string_view path,
                                                           const Query& query) const {
    using Kind = DecodingError::Kind;
    const std::string body = fetch(path, query);
    const auto json = Wire::parse(body);
    if (json.is_discarded())
        throw DecodingError(Kind::DataCorrupted, "", "The given data was not valid JSON.");
    if (!json.is_object())
        throw DecodingError(Kind::TypeMismatch, "", "Expected an object.");
    auto text = [&json](const char* key) {
        const auto it = json.find(key);
        if (it == json.end() || it->is_null())
            throw DecodingError(Kind::KeyNotFound, key, std::string("No value for key ") + key);
        if (!it->is_string())
            throw DecodingError(Kind::TypeMismatch, key, "Expected a string.");
        return it->get<std::string>();
    };
    Hello hello;
    hello.name = text("name");
    hello.version = text("version");
    return hello;
}

TesselClient::Hello TesselClient::hello() const {
    Hello answer = get<Hello>("api/hello");
    if (answer.name != "tessel")
        throw GatewayError::wrongServer();
    return answer;
}

std::vector<Quota> TesselClient::quotas() const {
    return get<QuotaEnvelope>("v1/tessel/quotas").data;
}

Usage TesselClient::usage(std::string_view period) const {
    std::string value(period);
    if (period == "week")
        value = "7d";
    else if (period == "month")
        value = "30d";
    return get<Usage>("v1/tessel/usage", {{"period", value}});
}

} // namespace tessel
