#include "app/update_feed.h"

#include <QXmlStreamReader>

#include <algorithm>

namespace tessel::UpdateFeed {

namespace {

struct Version {
    QList<QStringView> release; // digits only, leading zeros stripped
    QList<QStringView> pre;     // empty: a final release
};

bool digits(QStringView s) {
    return !s.isEmpty() && std::all_of(s.begin(), s.end(),
                                       [](QChar c) { return c.isDigit() && c.unicode() < 128; });
}

QStringView stripZeros(QStringView s) {
    while (s.size() > 1 && s.front() == u'0')
        s = s.mid(1);
    return s;
}

// Numbers of any length, compared without converting (so "99999999999999999999" is fine).
int compareNumbers(QStringView a, QStringView b) {
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return a.compare(b);
}

std::optional<Version> parseVersion(QStringView text) {
    text = text.trimmed();
    if (text.startsWith(u'v') || text.startsWith(u'V'))
        text = text.mid(1);
    if (const qsizetype plus = text.indexOf(u'+'); plus >= 0)
        text = text.first(plus);
    Version v;
    QStringView core = text;
    if (const qsizetype dash = text.indexOf(u'-'); dash >= 0) {
        core = text.first(dash);
        for (QStringView id : text.mid(dash + 1).split(u'.')) {
            if (id.isEmpty())
                return std::nullopt;
            v.pre.append(digits(id) ? stripZeros(id) : id);
        }
    }
    for (QStringView part : core.split(u'.')) {
        if (!digits(part))
            return std::nullopt;
        v.release.append(stripZeros(part));
    }
    return v;
}

int comparePre(const QList<QStringView>& a, const QList<QStringView>& b) {
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() == b.isEmpty() ? 0 : (a.isEmpty() ? 1 : -1);
    for (qsizetype i = 0; i < std::min(a.size(), b.size()); ++i) {
        const bool an = digits(a[i]), bn = digits(b[i]);
        int c = an && bn   ? compareNumbers(a[i], b[i])
                : an != bn ? (an ? -1 : 1)
                           : a[i].compare(b[i]);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

QUrl webUrl(const QString& text) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    // Anything else (file:, javascript:, a relative path) is never handed to the desktop.
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != u"https" && url.scheme() != u"http"))
        return {};
    return url;
}

Release readItem(QXmlStreamReader& xml, QString& version) {
    Release r;
    QUrl link;
    while (xml.readNextStartElement()) {
        const QStringView name = xml.name();
        if (name == u"enclosure") {
            const QXmlStreamAttributes attributes = xml.attributes();
            for (const QXmlStreamAttribute& a : attributes) {
                if (a.name() == u"version" && version.isEmpty())
                    version = a.value().toString();
                if (a.name() == u"url" && r.download.isEmpty())
                    r.download = webUrl(a.value().toString());
            }
            xml.skipCurrentElement();
        } else if (name == u"version") {
            version = xml.readElementText(QXmlStreamReader::IncludeChildElements);
        } else if (name == u"title") {
            r.title = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (name == u"description") {
            r.notes = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
        } else if (name == u"link") {
            link = webUrl(xml.readElementText(QXmlStreamReader::IncludeChildElements));
        } else {
            xml.skipCurrentElement();
        }
    }
    if (r.download.isEmpty())
        r.download = link;
    return r;
}

} // namespace

std::optional<int> compareVersions(QStringView a, QStringView b) {
    const std::optional<Version> va = parseVersion(a), vb = parseVersion(b);
    if (!va || !vb)
        return std::nullopt;
    const qsizetype n = std::max(va->release.size(), vb->release.size());
    for (qsizetype i = 0; i < n; ++i) {
        const QStringView x = i < va->release.size() ? va->release[i] : u"0";
        const QStringView y = i < vb->release.size() ? vb->release[i] : u"0";
        if (const int c = compareNumbers(x, y); c != 0)
            return c < 0 ? -1 : 1;
    }
    return comparePre(va->pre, vb->pre);
}

std::vector<Release> parse(const QByteArray& document) {
    QXmlStreamReader xml(document);
    std::vector<Release> releases;
    if (!xml.readNextStartElement() || xml.name() != u"rss")
        throw FeedError("not an RSS document");
    bool channel = false;
    while (xml.readNextStartElement()) {
        if (xml.name() != u"channel") {
            xml.skipCurrentElement();
            continue;
        }
        channel = true;
        while (xml.readNextStartElement()) {
            if (xml.name() != u"item") {
                xml.skipCurrentElement();
                continue;
            }
            QString version;
            Release r = readItem(xml, version);
            r.version = version.trimmed();
            if (parseVersion(r.version))
                releases.push_back(std::move(r));
        }
    }
    if (xml.hasError())
        throw FeedError(xml.errorString().toStdString());
    if (!channel)
        throw FeedError("no channel");
    return releases;
}

std::optional<Release> newer(const std::vector<Release>& releases, QStringView current) {
    const Release* best = nullptr;
    for (const Release& r : releases) {
        const std::optional<int> c = compareVersions(r.version, current);
        if (!c || *c <= 0)
            continue;
        if (!best || compareVersions(r.version, best->version).value_or(0) > 0)
            best = &r;
    }
    return best ? std::optional<Release>(*best) : std::nullopt;
}

} // namespace tessel::UpdateFeed
