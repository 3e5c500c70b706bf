// Any text through the endpoint check: it accepts or throws its own error, and what it
// accepts it accepts again unchanged.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "gateway/endpoint.h"
#include "gateway/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const tessel::EndpointUrl url = tessel::Endpoint::validate(text);
        if (tessel::Endpoint::validate(url.text).text != url.text || url.host.empty())
            std::abort();
    } catch (const tessel::GatewayError&) {
    }
    return 0;
}
