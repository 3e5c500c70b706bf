// The gateway key, one per endpoint text, kept in the Secret Service and nowhere else.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tessel {

class KeychainError : public std::runtime_error {
public:
    KeychainError(int code, std::string message);
    int code() const { return code_; }

private:
    int code_;
};

namespace GatewayKeychain {
inline constexpr std::string_view service = "net.quorvane.TesselWidget.gateway";

// Every failure reads as "no key".
std::optional<std::string> load(std::string_view endpoint);
// KeychainError::code() of a key refused before the store is asked.
inline constexpr int invalidKey = -1;
// An empty key deletes the item. A key with CR, LF or NUL is refused (the client could never
// send it). Throws KeychainError.
void save(std::string_view key, std::string_view endpoint);
} // namespace GatewayKeychain

} // namespace tessel
