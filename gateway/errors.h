// Errors of gateway access and the one rule that turns any error into a user-facing message.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace tessel {

class GatewayError : public std::exception {
public:
    enum class Case { Http, InvalidEndpoint, InsecureRemote, WrongServer };

    static GatewayError http(int status) { return GatewayError(Case::Http, status); }
    static GatewayError invalidEndpoint() { return GatewayError(Case::InvalidEndpoint); }
    static GatewayError insecureRemote() { return GatewayError(Case::InsecureRemote); }
    static GatewayError wrongServer() { return GatewayError(Case::WrongServer); }

    Case errorCase() const { return case_; }
    int status() const { return status_; }
    // The user-facing message.
    std::string errorDescription() const;
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const GatewayError& other) const {
        return case_ == other.case_ && status_ == other.status_;
    }

private:
    explicit GatewayError(Case c, int status = 0);
    Case case_;
    int status_;
    std::string description_;
};

// A transport failure with its fixed code (-1004 refused, -1001 timed out, -1003 host not
// found, -1005 connection lost, -1200 TLS, -1103 data length exceeds maximum, ...).
class UrlLoadingError : public std::runtime_error {
public:
    UrlLoadingError(int code, std::string detail);
    int code() const { return code_; }

private:
    int code_;
};

// One short Chinese message per kind of error; never a host, path, key or response text.
std::string safeError(const std::exception_ptr& error);

} // namespace tessel
