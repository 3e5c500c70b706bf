#include "gateway/errors.h"
#include "gateway/keychain.h"

#include "model/wire.h"

namespace tessel {

namespace {

std::string describe(GatewayError::Case c, int status) {
    switch (c) {
    case GatewayError::Case::Http: {
        std::string text = "Gateway HTTP " + std::to_string(status);
        if (status == 404)
            text += "：该 Tessel 版本不支持此接口。";
        else if (status == 403)
            text += "：网关密钥无权读取这些统计。";
        return text;
    }
    case GatewayError::Case::InvalidEndpoint:
        return "请输入不含路径、凭证或查询参数的 Gateway 地址。";
    case GatewayError::Case::InsecureRemote:
        return "远程 Gateway 需要 HTTPS。";
    case GatewayError::Case::WrongServer:
        return "该服务不是 Tessel。";
    }
    return {};
}

} // namespace

GatewayError::GatewayError(Case c, int status)
    : case_(c), status_(c == Case::Http ? status : 0), description_(describe(c, status_)) {}

std::string GatewayError::errorDescription() const {
    return description_;
}

UrlLoadingError::UrlLoadingError(int code, std::string detail)
    : std::runtime_error(std::move(detail)), code_(code) {}

std::string safeError(const std::exception_ptr& error) {
    if (!error)
        return "读取失败，保留上次有效数据。";
    try {
        std::rethrow_exception(error);
    } catch (const GatewayError& e) {
        return e.errorDescription();
    } catch (const DecodingError&) {
        return "响应格式不兼容，保留上次有效数据。";
    } catch (const KeychainError& e) {
        return e.what(); // already the user's sentence
    } catch (const UrlLoadingError& e) {
        return "网络连接失败（" + std::to_string(e.code()) + "），请确认 Tessel 正在运行。";
    } catch (...) {
        return "读取失败，保留上次有效数据。";
    }
}

} // namespace tessel
