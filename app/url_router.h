// The "tesselwidget" URL scheme: which dashboard section a URL selects and whether it refreshes.
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace tessel {

class DataSyncService;

namespace UrlRouter {

inline constexpr char scheme[] = "tesselwidget";

struct Route {
    QString screen; // "overview", "usage" or "settings"
    bool refresh = false;
};

// nullopt for a URL of another scheme (or no scheme at all). Only the host counts; it is taken
// from the text as written, so "tesselwidget://Refresh" is not a refresh.
std::optional<Route> route(QStringView url);

// Applies the route to the service: sets its screen and, for "refresh", starts a refresh with a
// widget reload. Returns false, having changed nothing, when the URL is not ours.
bool open(DataSyncService& sync, QStringView url);

} // namespace UrlRouter
} // namespace tessel
