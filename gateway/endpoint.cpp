#include "gateway/endpoint.h"
#include "model/wire.h"

#include <uriparser/Uri.h>

#include <nlohmann/json.hpp>

#include <pwd.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "gateway/errors.h"

namespace tessel {

namespace {

// A settings file is a few hundred bytes; anything this large is not one.
constexpr std::uintmax_t maxSettingsBytes = 1u << 20;

std::optional<std::filesystem::path> configDirectory() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"))
        return std::filesystem::path(xdg);
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / ".config";
    // No HOME in the environment (a service, a stripped test run): ask the user database.
    std::string buffer(16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return std::filesystem::path(found->pw_dir) / ".config";
    return std::nullopt;
}

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return std::nullopt;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec || size > maxSettingsBytes)
        return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    return text;
}

// The port of the settings file, if it names a usable one.
std::optional<long long> settingsPort(const std::string& text) {
    nlohmann::json json;
    try {
        json = Wire::parse(text);
    } catch (const DecodingError&) {
        return std::nullopt;
    }
    if (!json.is_object())
        return std::nullopt;
    const auto it = json.find("port");
    if (it == json.end() || it->is_null())
        return std::nullopt;
    if (it->is_number_unsigned()) {
        const auto v = it->get<std::uint64_t>();
        return v <= 65535 ? std::optional<long long>(static_cast<long long>(v)) : std::nullopt;
    }
    if (it->is_number_integer())
        return it->get<std::int64_t>();
    if (it->is_number_float()) {
        // An integer written as 8080.0 or 8.08e3 is still an integer; 8080.5 is not.
        const double v = it->get<double>();
        if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e6)
            return static_cast<long long>(v);
    }
    return std::nullopt;
}

std::string range(const UriTextRangeA& r) {
    return r.first ? std::string(r.first, r.afterLast) : std::string();
}

struct ParsedUri {
    UriUriA uri{};
    bool ok = false;
    explicit ParsedUri(std::string_view text) {
        const char* errorPos = nullptr;
        ok = uriParseSingleUriExA(&uri, text.data(), text.data() + text.size(), &errorPos) ==
             URI_SUCCESS;
    }
    ~ParsedUri() {
        if (ok)
            uriFreeUriMembersA(&uri);
    }
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;
};

} // namespace

std::string Endpoint::detect() {
    const auto dir = configDirectory();
    if (!dir)
        return std::string(defaultEndpoint);
    const auto text = readSmallFile(*dir / "tessel" / "settings.json");
    if (!text)
        return std::string(defaultEndpoint);
    const auto port = settingsPort(*text);
    if (!port || *port < 1 || *port > 65535)
        return std::string(defaultEndpoint);
    return "http://127.0.0.1:" + std::to_string(*port);
}

EndpointUrl Endpoint::validate(std::string_view text) {
    // uriparser reads up to the end pointer, so an embedded NUL is a syntax error, not an end.
    ParsedUri parsed(text);
    if (text.empty() || !parsed.ok)
        throw GatewayError::invalidEndpoint();
    const UriUriA& uri = parsed.uri;

    EndpointUrl url;
    url.text = std::string(text);
    url.scheme = range(uri.scheme);
    url.host = range(uri.hostText); // IPv6 literals come without their brackets
    url.port = range(uri.portText);

    if (!uri.hostText.first || url.host.empty())
        throw GatewayError::invalidEndpoint();
    if (url.scheme != "http" && url.scheme != "https")
        throw GatewayError::invalidEndpoint();
    // A bare "@", "?" or "#" counts as present: the range exists even when it is empty.
    if (uri.userInfo.first || uri.query.first || uri.fragment.first)
        throw GatewayError::invalidEndpoint();
    const bool emptyPath = uri.pathHead == nullptr;
    const bool rootPath = uri.pathHead && !uri.pathHead->next &&
                          uri.pathHead->text.first == uri.pathHead->text.afterLast;
    if (!emptyPath && !rootPath)
        throw GatewayError::invalidEndpoint();

    if (url.scheme == "https")
        return url;
    if (url.host == "localhost" || url.host == "127.0.0.1" || url.host == "::1")
        return url;
    throw GatewayError::insecureRemote();
}

} // namespace tessel
