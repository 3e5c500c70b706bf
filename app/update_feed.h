// The update feed: an RSS 2.0 document whose items are releases, and the version order.
//
//   <rss version="2.0"><channel><item>
//     <title>Tessel Widget 0.2.0</title>
//     <version>0.2.0</version>            (or a "version" attribute on <enclosure>)
//     <description>plain-text notes</description>
//     <enclosure url="https://.../TesselWidget-0.2.0.tar.gz"/>   (else <link>)
//   </item></channel></rss>
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>

#include <optional>
#include <stdexcept>
#include <vector>

namespace tessel::UpdateFeed {

struct Release {
    QString version;
    QString title;
    QString notes;
    QUrl download; // http or https only; empty when the item named none
};

class FeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Dotted numbers with an optional "-prerelease" and "+build" ("v" prefix allowed). Negative, 0
// or positive like strcmp; nullopt when either text is no version.
std::optional<int> compareVersions(QStringView a, QStringView b);

// Every item with a valid version, in document order. Throws FeedError when the text is not
// well-formed XML or not an RSS channel.
std::vector<Release> parse(const QByteArray& document);

// The newest release, if any is newer than `current`.
std::optional<Release> newer(const std::vector<Release>& releases, QStringView current);

} // namespace tessel::UpdateFeed
