#include "app/url_router.h"

#include "sync/data_sync_service.h"

namespace tessel::UrlRouter {

namespace {

// RFC 3986 authority: after "//", up to the first "/", "?" or "#"; the host follows any
// "user@" and stops at ":port" (an IPv6 literal keeps its brackets' colons).
QStringView hostOf(QStringView rest) {
    if (!rest.startsWith(u"//"))
        return {};
    rest = rest.mid(2);
    qsizetype end = 0;
    while (end < rest.size() && rest[end] != u'/' && rest[end] != u'?' && rest[end] != u'#')
        ++end;
    QStringView authority = rest.first(end);
    if (const qsizetype at = authority.lastIndexOf(u'@'); at >= 0)
        authority = authority.mid(at + 1);
    if (authority.startsWith(u'[')) {
        const qsizetype close = authority.indexOf(u']');
        return close < 0 ? authority : authority.first(close + 1);
    }
    if (const qsizetype colon = authority.indexOf(u':'); colon >= 0)
        authority = authority.first(colon);
    return authority;
}

} // namespace

std::optional<Route> route(QStringView url) {
    const qsizetype colon = url.indexOf(u':');
    if (colon < 0 || url.first(colon) != QLatin1StringView(scheme))
        return std::nullopt;
    const QStringView host = hostOf(url.mid(colon + 1));
    Route r;
    if (host == u"usage")
        r.screen = QStringLiteral("usage");
    else if (host == u"settings")
        r.screen = QStringLiteral("settings");
    else
        r.screen = QStringLiteral("overview");
    r.refresh = host == u"refresh";
    return r;
}

bool open(DataSyncService& sync, QStringView url) {
    const std::optional<Route> r = route(url);
    if (!r)
        return false;
    sync.setScreen(r->screen);
    if (r->refresh)
        sync.refresh(true); // the service keeps the cycle alive; nothing to wait for here
    return true;
}

} // namespace tessel::UrlRouter
