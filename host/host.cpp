#include "host/host.h"

#include "host/autostart.h"
#include "host/clock_watch.h"
#include "host/config_sheet.h"
#include "host/gallery.h"
#include "host/widget_window.h"
#include "session/off_thread.h"
#include "widget_api/desktop_widget.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDesktopServices>
#include <QFileInfo>
#include <QIcon>
#include <QScreen>
#include <QUuid>

#include <utility>

namespace tessel::host {

namespace {

constexpr int margin = 24;

bool busConnected() {
    return QDBusConnection::sessionBus().isConnected();
}

// The gallery and the sheets are windows of the application and look it in task bars. The
// icon is drawn by Qt's SVG engine, which placed widgets alone never need: it is set when the
// first of those windows opens (the widget windows, skipped by task bars, take it from then on).
void useApplicationIcon() {
    static bool set = false;
    if (!std::exchange(set, true))
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/host/icon.svg")));
}

} // namespace

Host::Host(QList<LoadedPlugin> plugins, QString settingsPath, QObject* parent)
    : QObject(parent), plugins_(std::move(plugins)), settingsPath_(std::move(settingsPath)),
      clock_(new ClockWatch(this)) {
    saveSoon_.setSingleShot(true);
    saveSoon_.setInterval(400);
    connect(&saveSoon_, &QTimer::timeout, this, &Host::save);
    QDBusConnection::sessionBus().connect(QString(), QString::fromLatin1(DesktopWidget::objectPath),
                                          QString::fromLatin1(DesktopWidget::interfaceName),
                                          QString::fromLatin1(DesktopWidget::reloadSignal), this,
                                          SLOT(reloadSignal(QString)));
    connect(clock_, &ClockWatch::changed, this, [this] {
        for (WidgetWindow* w : std::as_const(windows_))
            w->reload();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, &Host::repairAll);
    qApp->installEventFilter(this);
}

bool Host::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove &&
        type != QEvent::MouseButtonRelease)
        return false;
    if (!watched->isWidgetType())
        return false;
    auto* window = qobject_cast<WidgetWindow*>(static_cast<QWidget*>(watched)->window());
    return window && window->dragEvent(event);
}

Host::~Host() {
    if (saveSoon_.isActive())
        save();
    qDeleteAll(windows_);
}

bool Host::restore() {
    QStringList problems;
    const QList<PlacedWidget> records = HostSettings::load(settingsPath_, &problems);
    for (const QString& problem : problems)
        qWarning("tessel-widget-host: settings: %s", qPrintable(problem));
    for (const PlacedWidget& record : records) {
        const LoadedPlugin* plugin = pluginFor(record.kind);
        if (!plugin || !plugin->description.families.contains(record.family)) {
            unplaced_.append(record);
            continue;
        }
        open(record);
    }
    if (!problems.isEmpty())
        save();
    else
        keepAutostart(!records.isEmpty());
    return !windows_.isEmpty();
}

QList<WidgetWindow*> Host::windows() const {
    QList<WidgetWindow*> list;
    for (const QString& id : order_)
        list.append(windows_.value(id));
    return list;
}

Gallery* Host::gallery() const {
    return gallery_;
}

ConfigSheet* Host::sheet(const QString& id) const {
    return sheets_.value(id);
}

const LoadedPlugin* Host::pluginFor(const QString& kind) const {
    for (const LoadedPlugin& p : plugins_)
        if (p.description.kind == kind)
            return &p;
    return nullptr;
}

WidgetWindow* Host::open(const PlacedWidget& stored) {
    const LoadedPlugin* plugin = pluginFor(stored.kind);
    PlacedWidget record = stored;
    const QSize size = widget::familySize(record.family);
    record.position = repaired(record.position, size, record.screen);
    widget::ViewActions actions;
    actions.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    // An intent may wait on a file lock another process holds: never on the GUI thread.
    actions.runIntent = [this, kind = record.kind](const widget::Intent& intent) {
        if (!intent.perform)
            return;
        offThread(this, intent.perform, [this, kind] {
            // The plug-in's own reload request travels on the bus; without one, reload here.
            if (!busConnected())
                reloadKind(kind);
        });
    };
    auto* window = new WidgetWindow(record, *plugin, actions);
    windows_.insert(record.id, window);
    order_.append(record.id);
    connect(window, &WidgetWindow::menuAction, this, &Host::menuAction);
    connect(window, &WidgetWindow::moved, this, [this] { saveSoon_.start(); });
    window->show();
    if (const QScreen* screen = window->screen())
        window->setRecordPosition(window->pos(), screen->name());
    return window;
}

WidgetWindow* Host::place(const QString& kind, widget::Family family) {
    const LoadedPlugin* plugin = pluginFor(kind);
    if (!plugin)
        return nullptr;
    PlacedWidget record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.kind = kind;
    record.family = family;
    record.position = freeSpot(widget::familySize(family), QGuiApplication::primaryScreen());
    if (const QScreen* screen = QGuiApplication::screenAt(record.position))
        record.screen = screen->name();
    WidgetWindow* window = open(record);
    save();
    return window;
}

void Host::remove(const QString& id) {
    WidgetWindow* window = windows_.take(id);
    if (!window)
        return;
    order_.removeAll(id);
    if (ConfigSheet* sheet = sheets_.take(id))
        sheet->close();
    window->deleteLater();
    save();
    checkIdle();
}

void Host::setFamily(const QString& id, widget::Family family) {
    WidgetWindow* window = windows_.value(id);
    if (!window || !window->plugin().description.families.contains(family))
        return;
    window->setFamily(family);
    // A larger size must still fit on its screen, and must not cover a neighbour: then it
    // moves to a free spot of its screen, or, with none left, stays where it fits.
    const QSize size = widget::familySize(family);
    const QPoint at = repaired(window->pos(), size, window->record().screen);
    const QScreen* screen = QGuiApplication::screenAt(QRect(at, size).center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect wanted(at, size);
    const bool covers = std::any_of(windows_.cbegin(), windows_.cend(), [&](const WidgetWindow* w) {
        return w != window && w->frameGeometry().intersects(wanted);
    });
    const bool hidden = screen && !screen->availableGeometry().contains(wanted);
    window->move(covers || hidden ? findFree(size, screen, window).value_or(at) : at);
    save();
}

void Host::setConfiguration(const QString& id, const QJsonObject& configuration) {
    if (WidgetWindow* window = windows_.value(id)) {
        window->setConfiguration(configuration);
        save();
    }
}

void Host::showGallery() {
    if (!gallery_) {
        useApplicationIcon();
        gallery_ = new Gallery(this);
        connect(gallery_, &QObject::destroyed, this, &Host::checkIdle, Qt::QueuedConnection);
    }
    gallery_->show();
    gallery_->raise();
    gallery_->activateWindow();
}

void Host::edit(const QString& id) {
    WidgetWindow* window = windows_.value(id);
    if (!window)
        return;
    QPointer<ConfigSheet>& sheet = sheets_[id];
    if (!sheet) {
        useApplicationIcon();
        sheet = new ConfigSheet(window->plugin(), id, window->record().configuration);
        connect(sheet, &ConfigSheet::changed, this, &Host::setConfiguration);
    }
    sheet->show();
    sheet->raise();
    sheet->activateWindow();
}

void Host::reloadKind(const QString& kind) {
    for (WidgetWindow* w : std::as_const(windows_))
        if (w->record().kind == kind)
            w->reload();
    if (gallery_)
        gallery_->refresh();
}

void Host::reloadSignal(const QString& kind) {
    reloadKind(kind);
}

// Started again from the menu or with --gallery: the widgets are already on the desktop, so
// the gallery is what there is to show.
void Host::handle(const QString&) {
    showGallery();
}

void Host::menuAction(const QString& id, const QString& action) {
    if (action == u"edit")
        edit(id);
    else if (action.startsWith(u"family:")) {
        if (const auto family = widget::familyFromName(action.mid(7)))
            setFamily(id, *family);
    } else if (action == u"remove")
        remove(id);
    else if (action == u"gallery")
        showGallery();
    else if (action == u"quit")
        QCoreApplication::quit();
}

void Host::save() {
    saveSoon_.stop();
    QList<PlacedWidget> records;
    for (const QString& id : std::as_const(order_))
        records.append(windows_.value(id)->record());
    records.append(unplaced_);
    if (!HostSettings::save(settingsPath_, records))
        qWarning("tessel-widget-host: cannot write %s", qPrintable(settingsPath_));
    keepAutostart(!records.isEmpty());
}

// Every drag saves; the entry is written only when it should appear or go, or when it starts
// another host than this one (a build from source, replaced by an installed package since).
void Host::keepAutostart(bool wanted) {
    const QString program = QCoreApplication::applicationFilePath();
    if (wanted ? !Autostart::starts(program) : QFileInfo::exists(Autostart::entryPath()))
        Autostart::set(wanted, program);
}

QPoint Host::freeSpot(QSize size, const QScreen* screen) const {
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    return findFree(size, screen, nullptr)
        .value_or(screen->availableGeometry().topLeft() + QPoint(margin, margin));
}

std::optional<QPoint> Host::findFree(QSize size, const QScreen* screen,
                                     const WidgetWindow* except) const {
    const QRect area = screen->availableGeometry();
    QList<QRect> taken;
    for (const WidgetWindow* w : std::as_const(windows_))
        if (w != except)
            taken.append(w->frameGeometry().adjusted(-8, -8, 8, 8));
    // Columns from the right edge, top to bottom, as on a desktop's icon grid.
    for (int x = area.right() - margin - size.width() + 1; x >= area.left() + margin; x -= 40) {
        for (int y = area.top() + margin; y + size.height() <= area.bottom() - margin; y += 20) {
            const QRect candidate(QPoint(x, y), size);
            if (std::none_of(taken.begin(), taken.end(),
                             [&](const QRect& r) { return r.intersects(candidate); }))
                return candidate.topLeft();
        }
    }
    return std::nullopt;
}

QPoint Host::repaired(QPoint wanted, QSize size, const QString& preferred) const {
    const QRect rect(wanted, size);
    const QScreen* best = nullptr;
    int bestArea = 0;
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect geometry = screen->geometry();
        if (geometry.contains(rect))
            return wanted;
        const QRect shown = geometry.intersected(rect);
        if (shown.width() * shown.height() > bestArea) {
            bestArea = shown.width() * shown.height();
            best = screen;
        }
    }
    if (best) {
        const QRect area = best->availableGeometry();
        return {std::clamp(wanted.x(), area.left(),
                           std::max(area.left(), area.right() - size.width() + 1)),
                std::clamp(wanted.y(), area.top(),
                           std::max(area.top(), area.bottom() - size.height() + 1))};
    }
    const QScreen* target = nullptr;
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->name() == preferred)
            target = screen;
    return freeSpot(size, target);
}

void Host::repairAll() {
    // Runs after the screen is gone from the list, so windows on it move to one still there.
    QTimer::singleShot(0, this, [this] {
        for (WidgetWindow* w : std::as_const(windows_))
            w->move(repaired(w->pos(), w->size(), w->record().screen));
        save();
    });
}

void Host::checkIdle() {
    if (windows_.isEmpty() && !gallery_ &&
        std::none_of(sheets_.begin(), sheets_.end(), [](const auto& s) { return !s.isNull(); }))
        emit idle();
}

} // namespace tessel::host
