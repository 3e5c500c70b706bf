// The contract between the widget host and a widget plug-in. The host includes only this
// folder; a plug-in is a Qt plug-in whose root object implements WidgetPlugin. Its metadata
// (QPluginLoader::metaData()["MetaData"]) names "kind", "displayName" and "families", so a host
// can list plug-ins without instantiating them. A host keeps a loaded plug-in for the life of
// its process (QLibrary::PreventUnloadHint): per-thread caches of the plug-in live in its code.
//
// Threads: description(), parameters(), the entity queries and the three provider requests may
// be called from any thread, also at the same time; they keep no state between calls. Views are
// made and used on the GUI thread only. An intent's perform() may run on any thread.
#pragma once

#include <QDateTime>
#include <QImage>
#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QVariantMap>
#include <QWidget>
#include <QtPlugin>

#include <functional>
#include <memory>
#include <optional>

#include "widget_api/desktop_widget.h"

namespace tessel::widget {

// Sizes of the three families in logical pixels; drawn at the screen's device pixel ratio.
enum class Family { Small, Medium, Large };

inline constexpr int cornerRadius = 20;

inline QSize familySize(Family family) {
    switch (family) {
    case Family::Small:
        return {170, 170};
    case Family::Medium:
        return {364, 170};
    case Family::Large:
        return {364, 382};
    }
    return {};
}

// "small", "medium", "large": the names the host keeps in its settings and takes on its
// command line.
inline QString familyName(Family family) {
    switch (family) {
    case Family::Small:
        return QStringLiteral("small");
    case Family::Medium:
        return QStringLiteral("medium");
    case Family::Large:
        return QStringLiteral("large");
    }
    return {};
}

inline std::optional<Family> familyFromName(const QString& name) {
    for (Family family : {Family::Small, Family::Medium, Family::Large})
        if (familyName(family) == name)
            return family;
    return std::nullopt;
}

// What the host shows in its gallery. One plug-in declares one widget kind.
struct WidgetDescription {
    QString kind;               // also the kind named by reload requests
    QString displayName;        // gallery title
    QString description;        // gallery text
    QList<Family> families;     // offered sizes, in order
    QString configurationTitle; // title of the configuration sheet
};

// ---- Configuration -------------------------------------------------------------------------
//
// A widget's configuration is a QVariantMap keyed by Parameter::key. A missing key means the
// parameter's default. Values by type:
//   Flag        bool
//   Choice      QString, one of the offered values' `value`; an unknown text counts as the
//               default
//   EntityList  QStringList of entity ids, in the order the user picked them; "nothing chosen"
//               is the absent key (an invalid QVariant counts as absent), which differs from a
//               present empty list. QSettings writes an empty QStringList as an invalid value, so
//               a host that keeps configurations in QSettings stores this one as a JSON array
//               text or similar.

struct Option {
    QString value; // stored in the configuration
    QString title; // shown in the sheet
};

struct Parameter {
    enum class Type { Flag, Choice, EntityList };

    QString key;   // configuration key
    QString title; // label of the control
    Type type = Type::Flag;
    QString typeTitle;     // name of the value type, e.g. of the enumeration or the entity
    QVariant defaultValue; // invalid for "absent" (EntityList without a choice)
    QList<Option> options; // Choice: every offered value, in order. EntityList: empty, ask
                           // WidgetPlugin::suggestedEntities(key)
    // Flag: the parameters (by key) that have no effect while the flag is on, and a short text
    // that says so. A sheet disables them meanwhile and shows the text with the flag.
    QStringList overrides{};
    QString overrideHint{};
};

// One choosable item of an EntityList parameter.
struct Entity {
    QString id;   // kept in the configuration
    QString name; // shown; never kept
};

// ---- Timeline ------------------------------------------------------------------------------

// The plug-in's own content of an entry; the host only keeps it and hands it back.
class EntryData {
public:
    virtual ~EntryData() = default;
};

struct Entry {
    QDateTime date; // shown from this instant on
    std::shared_ptr<const EntryData> data;
};

// The host shows the entries in date order and asks for a new timeline at `after` at the latest
// (measure the wait on a clock that counts suspend), or earlier on a reload request.
struct Timeline {
    QList<Entry> entries;
    QDateTime after;
};

struct Context {
    Family family = Family::Small;
    bool isPreview = false; // gallery or configuration sheet preview
};

// ---- Views ---------------------------------------------------------------------------------

// Work a button runs inside the host's process (no application is opened). After perform()
// the plug-in has already sent the reload request for its kind on the session bus; a host
// without a bus may reload on its own.
struct Intent {
    QString title;          // e.g. the action's name
    QVariantMap parameters; // the values the button supplied, for logs and --describe
    std::function<void()> perform;
};

// One visible thing of a view, listed in reading order.
struct ViewItem {
    enum class Role { Text, Link, Button, Chart };

    Role role = Role::Text;
    QString text;           // what is drawn (empty for symbols and charts)
    QString accessibleName; // what a screen reader says
    bool enabled = true;
    QUrl url;                     // Link: the URL the host opens
    std::optional<Intent> intent; // Button: what a click runs (never while disabled)
    QRect rect;                   // in the view widget's coordinates
};

inline QString roleName(ViewItem::Role role) {
    switch (role) {
    case ViewItem::Role::Text:
        return QStringLiteral("text");
    case ViewItem::Role::Link:
        return QStringLiteral("link");
    case ViewItem::Role::Button:
        return QStringLiteral("button");
    case ViewItem::Role::Chart:
        return QStringLiteral("chart");
    }
    return {};
}

// How a view reaches the host. Unset members fall back: openUrl does nothing, runIntent runs
// perform() at once on the GUI thread.
struct ViewActions {
    std::function<void(const QUrl&)> openUrl;     // a link or the widget's tap target
    std::function<void(const Intent&)> runIntent; // a button
};

// One widget drawn for one family. Owns its QWidget: deleting the view deletes the widget
// (the host may reparent it meanwhile). The widget paints its own background (rounded by
// cornerRadius when its window is translucent, square otherwise) and follows its palette, so a
// dark or light window palette gives the dark or light look.
class WidgetView {
public:
    virtual ~WidgetView() = default;

    virtual QWidget* widget() const = 0;
    virtual Family family() const = 0;
    // Redraws from another entry of the same widget (no new window, no flicker).
    virtual void setEntry(const Entry& entry) = 0;
    // The visible texts, links, buttons and charts, in reading order.
    virtual QList<ViewItem> items() const = 0;
    // Opened by a click outside every link and button.
    virtual QUrl tapUrl() const = 0;
    // The widget at familySize() and the given device pixel ratio, background included.
    virtual QImage render(qreal devicePixelRatio) const = 0;
};

// ---- The plug-in ---------------------------------------------------------------------------

class WidgetPlugin {
public:
    virtual ~WidgetPlugin() = default;

    virtual WidgetDescription description() const = 0;

    // Configuration sheet, built from data alone.
    virtual QList<Parameter> parameters() const = 0;
    // All entities an EntityList parameter offers (local reads only, never the network).
    virtual QList<Entity> suggestedEntities(const QString& parameterKey) const = 0;
    // The entities among `ids` that still exist, in the plug-in's order; unknown ids dropped.
    virtual QList<Entity> entities(const QString& parameterKey, const QStringList& ids) const = 0;

    // Provider: placeholder reads nothing and returns at once; snapshot and timeline read the
    // plug-in's data afresh on every call.
    virtual Entry placeholder(const Context& context) const = 0;
    virtual Entry snapshot(const QVariantMap& configuration, const Context& context) const = 0;
    virtual Timeline timeline(const QVariantMap& configuration, const Context& context) const = 0;

    // GUI thread only. The entry must come from this plug-in.
    virtual std::unique_ptr<WidgetView> createView(const Entry& entry, Family family,
                                                   const ViewActions& actions,
                                                   QWidget* parent = nullptr) const = 0;
};

} // namespace tessel::widget

#define TesselWidgetPlugin_iid "net.quorvane.TesselWidget.WidgetPlugin/2"
Q_DECLARE_INTERFACE(tessel::widget::WidgetPlugin, TesselWidgetPlugin_iid)
