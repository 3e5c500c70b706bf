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

// KeychainError::code() of a key refused before the store is asked.
inline constexpr int invalidKey = -1;
// The keyring's prompt (a new keyring's password, an unlock) was closed unanswered: nothing
// changed.
inline constexpr int dismissed = -2;
// The service stopped answering after the request went out: it may still carry it out.
inline constexpr int unanswered = -3;

// Whether an HTTP header field can carry the key as it is: no control character at all.
bool sendable(std::string_view key);
// The sentence for a key that is not sendable, wherever it is refused.
extern const char* const unsendable;

struct Lookup {
    // False when the store gave no answer (none on the bus, no answer in time, an unlock
    // prompt closed): the key is then unknown, not absent.
    bool answered = false;
    std::optional<std::string> key;
};
Lookup find(std::string_view endpoint);
// Every failure reads as "no key".
std::optional<std::string> load(std::string_view endpoint);

// An empty key deletes the item. May show the keyring's prompts (create the default keyring,
// unlock it) and waits for the user's answer as long as the service itself answers. A key
// that is not sendable is refused. Throws KeychainError.
void save(std::string_view key, std::string_view endpoint);
} // namespace GatewayKeychain

} // namespace tessel
