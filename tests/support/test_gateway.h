// An HTTP server on 127.0.0.1, in this process, scripted per path (else 404), recording all.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessel::test {

struct RecordedRequest {
    std::string method;
    std::string path; // decoded, with the leading "/"
    bool hasQuery = false;
    std::multimap<std::string, std::string> params; // decoded query items
    std::vector<std::pair<std::string, std::string>> headers;

    // First value of a header (case-insensitive name), or nullopt.
    std::optional<std::string> header(std::string_view name) const;
    std::string param(const std::string& name) const;
};

// One scripted answer; every member has a default so that designated initializers stay short.
struct Route {
    int status = 200;
    std::string body{};
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> headers{};
    std::chrono::milliseconds delay{0}; // before anything is sent

    // Body shaping; `body` is used when bodySize is unset.
    std::optional<std::size_t> bodySize{};   // send this many filler bytes instead
    bool endless = false;                    // chunked filler that never ends
    std::optional<std::size_t> stallAfter{}; // bytes sent before a pause of stallFor
    std::chrono::milliseconds stallFor{0};
    std::optional<std::size_t> closeAfter{}; // bytes sent before the connection is dropped

    static Route json(std::string body, int status = 200, std::chrono::milliseconds delay = {});
};

class TestGateway {
public:
    using Handler = std::function<Route(const RecordedRequest&)>;

    TestGateway();
    ~TestGateway();
    TestGateway(const TestGateway&) = delete;
    TestGateway& operator=(const TestGateway&) = delete;

    int port() const { return port_; }
    // A loopback port nobody listens on any more: a gateway's, after it has gone.
    static int closedPort();
    // "http://127.0.0.1:<port>"
    std::string endpoint() const;

    // `path` without the leading "/", e.g. "api/hello". Replaces an earlier script.
    void on(const std::string& path, Route route);
    void on(const std::string& path, Handler handler);
    // The handshake answer of a genuine gateway.
    void serveHello(const std::string& version = "1.4.2");
    // All three paths as tools/sample-gateway answers them; an unknown period answers 400.
    void serveSample();

    std::vector<RecordedRequest> requests() const;
    // Requests for `path` (without leading "/"), or all requests when it is empty.
    std::size_t requestCount(const std::string& path = {}) const;
    void clearRequests();

private:
    struct State;
    std::shared_ptr<State> state_;
    int port_ = 0;
};

} // namespace tessel::test
