// Any bytes through every top-level decoder; whatever decodes must survive a round trip.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/snapshot.h"
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
    return 0;
}
