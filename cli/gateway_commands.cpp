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

int detect(const QCommandLineParser& line, Io& io) {
    if (!line.positionalArguments().isEmpty())
        return usageError("detect", io);
    io.out << Endpoint::detect() << '\n';
    return 0;
}

int validate(const QCommandLineParser& line, Io& io) {
    const QStringList address = line.positionalArguments();
    if (address.size() != 1)
        return usageError("validate 地址", io);
    try {
        io.out << Endpoint::validate(address[0].toStdString()).text << '\n';
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

const QCommandLineOption endpointOption(QStringLiteral("endpoint"), {}, QStringLiteral("URL"));
const QCommandLineOption tokenOption(QStringLiteral("token-stdin"));

int fetch(const QCommandLineParser& line, Io& io) {
    std::optional<std::string> endpoint;
    if (line.isSet(endpointOption))
        endpoint = line.value(endpointOption).toStdString();
    const bool tokenFromStdin = line.isSet(tokenOption);
    std::vector<std::string> rest;
    for (const QString& word : line.positionalArguments())
        rest.push_back(word.toStdString());
    const bool known = (rest.size() == 1 && (rest[0] == "hello" || rest[0] == "quotas")) ||
                       (rest.size() == 2 && rest[0] == "usage");
    if (!known)
        return usageError(fetchSynopsis, io);

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
    registerCommand({"fetch",
                     fetchSynopsis,
                     "向 Gateway 发出一次请求并打印回答（JSON）；不给 --endpoint 时用已配置的地址，"
                     "--token-stdin 从标准输入读取 Gateway 密钥",
                     &fetch,
                     {endpointOption, tokenOption}});

} // namespace

#ifndef TESSEL_HAVE_SYNC
std::string defaultEndpoint() {
    return Endpoint::detect();
}
#endif

} // namespace tessel::cli
