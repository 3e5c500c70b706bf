// Any bytes through every top-level decoder; whatever decodes must survive a round trip.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "model/snapshot.h"
#include "model/widget_preferences.h"
#include "model/wire.h"

namespace {

template <class T> void roundTrip(std::string_view bytes) {
    T value;
    try {
        value = tessel::Wire::decode<T>(bytes);
    } catch (const tessel::DecodingError&) {
        return;
    }
    // Our own output must always read back, and read back to the same text.
    const std::string once = tessel::Wire::encode(value);
    const std::string twice = tessel::Wire::encode(tessel::Wire::decode<T>(once));
    if (once != twice)
        std::abort();
}

// Checking fails exactly where decoding fails, with the same error; the untyped reader
// refuses exactly the texts that decoding calls not JSON.
void sameVerdicts(std::string_view bytes) {
    auto verdict = [bytes](auto read) -> std::string {
        try {
            read(bytes);
        } catch (const tessel::DecodingError& e) {
            return std::to_string(static_cast<int>(e.kind())) + e.codingPath() + e.description();
        }
        return "ok";
    };
    const std::string decoded =
        verdict([](std::string_view b) { tessel::Wire::decode<tessel::Snapshot>(b); });
    if (verdict([](std::string_view b) { tessel::Wire::check<tessel::Snapshot>(b); }) != decoded)
        std::abort();
    const bool notJson = decoded.rfind("2The given data", 0) == 0;
    if ((verdict([](std::string_view b) { tessel::Wire::parse(b); }) != "ok") != notJson)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        tessel::Wire::decode<tessel::QuotaEnvelope>(bytes);
    } catch (const tessel::DecodingError&) {
    }
    roundTrip<tessel::Usage>(bytes);
    roundTrip<tessel::Snapshot>(bytes);
    roundTrip<tessel::Quota>(bytes);
    roundTrip<tessel::WidgetPreferences>(bytes);
    sameVerdicts(bytes);
    return 0;
}
