#include "support/test_gateway.h"

#include "tools/sample-gateway/sample_data.h"

#include <httplib.h>
#include <strings.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace tessel::test {

namespace {
constexpr std::size_t chunkSize = 64 * 1024;
} // namespace

std::optional<std::string> RecordedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), key.size()) == 0)
            return value;
    }
    return std::nullopt;
}

std::string RecordedRequest::param(const std::string& name) const {
    auto it = params.find(name);
    return it == params.end() ? std::string() : it->second;
}

int TestGateway::closedPort() {
    return TestGateway().port();
}

Route Route::json(std::string body, int status, std::chrono::milliseconds delay) {
    return Route{.status = status, .body = std::move(body), .delay = delay};
}

struct TestGateway::State {
    httplib::Server server;
    std::thread thread;
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex;
    std::map<std::string, Handler> routes;
    std::vector<RecordedRequest> requests;

    // Sleeps in short steps so that a stopping server never waits for a scripted pause.
    void pause(std::chrono::milliseconds total) const {
        const auto until = std::chrono::steady_clock::now() + total;
        while (!stopping && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }

    void answer(const httplib::Request& req, httplib::Response& res);
};

void TestGateway::State::answer(const httplib::Request& req, httplib::Response& res) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.path = req.path;
    rec.hasQuery = req.target.find('?') != std::string::npos;
    rec.params.insert(req.params.begin(), req.params.end());
    // httplib adds the REMOTE_/LOCAL_ annotations itself; they were never on the wire.
    for (const auto& [name, value] : req.headers) {
        if (!name.starts_with("REMOTE_") && !name.starts_with("LOCAL_"))
            rec.headers.emplace_back(name, value);
    }

    Handler handler;
    {
        std::lock_guard lock(mutex);
        requests.push_back(rec);
        if (auto it = routes.find(req.path.substr(std::min<std::size_t>(1, req.path.size())));
            it != routes.end())
            handler = it->second;
    }
    if (!handler) {
        res.status = 404;
        res.set_content("{\"error\":\"not found\"}", "application/json");
        return;
    }

    const Route route = handler(rec);
    pause(route.delay);
    res.status = route.status;
    for (const auto& [name, value] : route.headers)
        res.set_header(name, value);
    const bool filler = route.bodySize || route.endless;
    if (!filler && !route.stallAfter && !route.closeAfter) {
        res.set_content(route.body, route.contentType);
        return;
    }

    // Writes from `offset` up to the next stall or close mark; false drops the connection.
    auto stalled = std::make_shared<bool>(false);
    auto step = [this, route, filler, stalled](std::size_t offset, std::size_t limit,
                                               httplib::DataSink& sink) {
        if (route.stallAfter && !*stalled && offset >= *route.stallAfter) {
            *stalled = true;
            pause(route.stallFor);
        }
        if (stopping || (route.closeAfter && offset >= *route.closeAfter))
            return false;
        std::size_t n = std::min(limit, chunkSize);
        if (route.stallAfter && !*stalled)
            n = std::min(n, *route.stallAfter - offset);
        if (route.closeAfter)
            n = std::min(n, *route.closeAfter - offset);
        const std::string chunk = filler ? std::string(n, ' ') : route.body.substr(offset, n);
        return sink.write(chunk.data(), chunk.size());
    };
    if (route.endless) {
        auto sent = std::make_shared<std::size_t>(0);
        res.set_chunked_content_provider(route.contentType,
                                         [step, sent](std::size_t, httplib::DataSink& sink) {
                                             *sent += chunkSize;
                                             return step(*sent - chunkSize, chunkSize, sink);
                                         });
        return;
    }
    res.set_content_provider(route.bodySize.value_or(route.body.size()), route.contentType, step);
}

TestGateway::TestGateway() : state_(std::make_shared<State>()) {
    auto* state = state_.get();
    state->server.Get(".*", [state](const httplib::Request& req, httplib::Response& res) {
        state->answer(req, res);
    });
    port_ = state->server.bind_to_any_port("127.0.0.1");
    if (port_ <= 0)
        throw std::runtime_error("test gateway: cannot bind 127.0.0.1");
    state->thread = std::thread([state] { state->server.listen_after_bind(); });
    // stop() is a no-op until the accept loop runs, so a destructor racing ahead would hang.
    for (int i = 0; i < 5000 && !state->server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestGateway::~TestGateway() {
    state_->stopping = true;
    state_->server.stop();
    if (state_->thread.joinable())
        state_->thread.join();
}

std::string TestGateway::endpoint() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

void TestGateway::on(const std::string& path, Route route) {
    on(path, Handler([route = std::move(route)](const RecordedRequest&) { return route; }));
}

void TestGateway::on(const std::string& path, Handler handler) {
    std::lock_guard lock(state_->mutex);
    state_->routes[path] = std::move(handler);
}

void TestGateway::serveHello(const std::string& version) {
    on("api/hello", Route::json(R"({"name":"tessel","version":")" + version + "\"}"));
}

void TestGateway::serveSample() {
    on("api/hello", Route::json(sample::hello()));
    on("v1/tessel/quotas",
       Handler([](const RecordedRequest&) { return Route::json(sample::quotas()); }));
    on("v1/tessel/usage", Handler([](const RecordedRequest& request) {
           auto body = sample::usage(request.param("period"));
           return body ? Route::json(*body) : Route::json(R"({"error":"unknown period"})", 400);
       }));
}

std::vector<RecordedRequest> TestGateway::requests() const {
    std::lock_guard lock(state_->mutex);
    return state_->requests;
}

std::size_t TestGateway::requestCount(const std::string& path) const {
    std::lock_guard lock(state_->mutex);
    return std::count_if(
        state_->requests.begin(), state_->requests.end(),
        [&](const RecordedRequest& r) { return path.empty() || r.path == "/" + path; });
}

void TestGateway::clearRequests() {
    std::lock_guard lock(state_->mutex);
    state_->requests.clear();
}

} // namespace tessel::test
