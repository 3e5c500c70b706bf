// tesselctl detect | validate | fetch: the gateway-facing commands.
#include <exception>
#include <istream>
#include <ostream>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "gateway/client.h"
#include "gateway/endpoint.h"
#include "gateway/errors.h"
#include "gateway/secret_memory.h"
#include "model/wire.h"

namespace tessel::cli {

namespace {

int detect(const Args& args, Io& io) {
    if (!args.empty()) {
        io.err << "用法：tesselctl detect\n";
        return 2;
    }
    io.out << Endpoint::detect() << '\n';
    return 0;
}

int validate(const Args& args, Io& io) {
    if (args.size() != 1) {
        io.err << "用法：tesselctl validate 地址\n";
        return 2;
    }
    try {
        io.out << Endpoint::validate(args[0]).text << '\n';
        return 0;
    } catch (const GatewayError& e) {
        io.err << e.errorDescription() << '\n';
        return 1;
    }
}

// The key comes from standard input so that it never shows in a process list or shell history.
std::string readKey(std::istream& in) {
    std::string key;
    std::getline(in, key);
    if (!key.empty() && key.back() == '\r')
        key.pop_back();
    return key;
}

constexpr std::string_view fetchSynopsis =
    "fetch [--endpoint 地址] [--token-stdin] hello|quotas|usage today|7d|30d";

int fetch(const Args& args, Io& io) {
    std::optional<std::string> endpoint;
    bool tokenFromStdin = false;
    std::vector<std::string> rest;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--endpoint" && i + 1 < args.size())
            endpoint = args[++i];
        else if (args[i] == "--token-stdin")
            tokenFromStdin = true;
        else
            rest.push_back(args[i]);
    }
    const bool known = (rest.size() == 1 && (rest[0] == "hello" || rest[0] == "quotas")) ||
                       (rest.size() == 2 && rest[0] == "usage");
    if (!known) {
        io.err << "用法：tesselctl " << fetchSynopsis << '\n';
        return 2;
    }

    if (tokenFromStdin)
        SecretMemory::forbidCoreDumps();
    std::optional<std::string> token;
    try {
        if (tokenFromStdin)
            token = readKey(io.in);
        const TesselClient client(endpoint ? *endpoint : defaultEndpoint(), std::move(token));
        SecretMemory::wipe(token); // the client keeps (and wipes) its own copy
        if (rest[0] == "hello") {
            const auto hello = client.hello();
            io.out
                << nlohmann::ordered_json{{"name", hello.name}, {"version", hello.version}}.dump()
                << '\n';
        } else if (rest[0] == "quotas") {
            std::string list = "[";
            for (const auto& quota : client.quotas())
                list += (list.size() > 1 ? "," : "") + Wire::encode(quota);
            io.out << list << "]\n";
        } else {
            io.out << Wire::encode(client.usage(rest[1])) << '\n';
        }
        return 0;
    } catch (...) {
        SecretMemory::wipe(token);
        io.err << safeError(std::current_exception()) << '\n';
        return 1;
    }
}

const bool registered =
    registerCommand({"detect", "detect",
                     "打印本机 Gateway 的地址（取自 Gateway 的设置文件，否则为默认地址）",
                     &detect}) &&
    registerCommand(
        {"validate", "validate 地址", "检查 Gateway 地址，通过时打印规范的写法", &validate}) &&
    registerCommand({"fetch", fetchSynopsis,
                     "向 Gateway 发出一次请求并打印回答（JSON）；不给 --endpoint 时用已配置的地址，"
                     "--token-stdin 从标准输入读取 Gateway 密钥",
                     &fetch});

} // namespace

#ifndef TESSEL_HAVE_SYNC
std::string defaultEndpoint() {
    return Endpoint::detect();
}
#endif

} // namespace tessel::cli
