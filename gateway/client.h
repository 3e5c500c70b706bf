// The only code that talks to the gateway: blocking GETs, to be run off the GUI thread.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "endpoint.h"
#include "model/records.h"
#include "model/wire.h"

namespace tessel {

struct ClientOptions {
    std::chrono::milliseconds requestTimeout{25'000};  // longest wait for more data
    std::chrono::milliseconds resourceTimeout{30'000}; // longest whole exchange
    std::size_t maxBodyBytes = 32u << 20;
};

class TesselClient {
public:
    struct Hello {
        std::string name;
        std::string version;
    };
    using Query = std::vector<std::pair<std::string, std::string>>;

    // Throws the GatewayError of Endpoint::validate.
    TesselClient(std::string_view endpoint, std::optional<std::string> token,
                 ClientOptions options = {});
    TesselClient(const TesselClient& other);
    TesselClient& operator=(const TesselClient&) = delete;
    // Wipes the key.
    ~TesselClient();

    // Each throws GatewayError, UrlLoadingError or DecodingError.
    Hello hello() const;
    std::vector<Quota> quotas() const;
    Usage usage(std::string_view period) const;

    // Raw body of a 200 answer. `path` is relative to the endpoint, e.g. "api/hello".
    std::string fetch(std::string_view path, const Query& query = {}) const;
    // fetch, then Wire::decode into T.
    template <class T> T get(std::string_view path, const Query& query = {}) const {
        return Wire::decode<T>(fetch(path, query));
    }

    const EndpointUrl& base() const { return base_; }

private:
    EndpointUrl base_;
    std::optional<std::string> token_;
    ClientOptions options_;
};

// Hello is the client's own record, decoded by the client.
template <>
TesselClient::Hello TesselClient::get<TesselClient::Hello>(std::string_view path,
                                                           const Query& query) const;

} // namespace tessel
