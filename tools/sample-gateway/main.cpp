// A stand-in gateway for demos and screenshots: realistic answers on 127.0.0.1.
#include <httplib.h>

#include <charconv>
#include <csignal>
#include <cstring>
#include <iostream>
#include <string_view>

#include "tools/sample-gateway/sample_data.h"

namespace {

httplib::Server* running = nullptr;

void stopOnSignal(int) {
    if (running)
        running->stop();
}

} // namespace

int main(int argc, char** argv) {
    int port = 3425;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            const std::string_view value = argv[++i];
            auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), port);
            if (ec != std::errc() || end != value.data() + value.size() || port < 1 ||
                port > 65535) {
                std::cerr << "sample-gateway：端口无效：" << value << '\n';
                return 2;
            }
        } else {
            std::cerr << "用法：sample-gateway [--port N]\n";
            return arg == "--help" ? 0 : 2;
        }
    }

    httplib::Server server;
    server.Get("/api/hello", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(tessel::sample::hello(), "application/json");
    });
    server.Get("/v1/tessel/quotas", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(tessel::sample::quotas(), "application/json");
    });
    server.Get("/v1/tessel/usage", [](const httplib::Request& req, httplib::Response& res) {
        if (auto body = tessel::sample::usage(req.get_param_value("period"))) {
            res.set_content(*body, "application/json");
        } else {
            res.status = 400;
            res.set_content(R"({"error":"unknown period"})", "application/json");
        }
    });

    running = &server;
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);
    if (!server.bind_to_port("127.0.0.1", port)) {
        std::cerr << "sample-gateway：无法监听 127.0.0.1:" << port << "：" << std::strerror(errno)
                  << '\n';
        return 1;
    }
    std::cout << "sample-gateway 正在 http://127.0.0.1:" << port << " 上提供示例数据" << std::endl;
    server.listen_after_bind();
    return 0;
}
