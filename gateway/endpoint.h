// Where the gateway is, and which addresses may carry the gateway key.
#pragma once

#include <string>
#include <string_view>

namespace tessel {

// Parts of an accepted endpoint; host without IPv6 brackets.
struct EndpointUrl {
    std::string text; // unchanged input, a trailing "/" kept
    std::string scheme;
    std::string host;
    std::string port; // empty when absent
};

namespace Endpoint {
inline constexpr std::string_view defaultEndpoint = "http://127.0.0.1:3425";

// Reads the gateway's settings file for its port; never fails.
std::string detect();
// Throws GatewayError::invalidEndpoint / insecureRemote.
EndpointUrl validate(std::string_view text);
} // namespace Endpoint

} // namespace tessel
