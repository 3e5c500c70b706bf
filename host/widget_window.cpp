#include "host/widget_window.h"

#include "host/desktop_hints.h"
#include "session/boot_timer.h"
#include "session/off_thread.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QJsonArray>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace tessel::host {

namespace {

const char* const familyTitles[][2] = {{"small", "小号"}, {"medium", "中号"}, {"large", "大号"}};

} // namespace

QVariantMap pluginConfiguration(const QJsonObject& stored) {
    QVariantMap map;
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        if (it->isArray()) {
            QStringList ids;
            for (const QJsonValue& v : it->toArray())
                if (v.isString())
                    ids.append(v.toString());
            map.insert(it.key(), ids);
        } else if (!it->isNull() && !it->isUndefined()) {
            map.insert(it.key(), it->toVariant());
        }
    }
    return map;
}

WidgetWindow::WidgetWindow(const PlacedWidget& record, const LoadedPlugin& plugin,
                           const widget::ViewActions& actions)
    : record_(record), plugin_(plugin), actions_(actions),
      reloads_(reloadWindow, [this] { requestTimeline(); }), wake_(new BootClockTimer(this)) {
    setWindowTitle(plugin_.description.displayName);
    setAccessibleName(plugin_.description.displayName);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    keepOnDesktop(this);
    if (compositing())
        setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(widget::familySize(family()));
    move(record_.position);
    connect(wake_, &BootClockTimer::timeout, this, [this] {
        // A later entry may be due before the timeline runs out.
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (timeline_.after.isValid() && now >= timeline_.after)
            reload();
        else
            apply(timeline_);
    });
    // Something to show at once; the real entry follows when the timeline comes.
    showEntry(plugin_.plugin->placeholder({family(), false}));
    reload();
}

// A timeline still being read finishes unheard: the worker holds nothing of this window, and
// waiting for it would hold the GUI thread as long as the read takes.
WidgetWindow::~WidgetWindow() = default;

widget::Family WidgetWindow::family() const {
    return widget::familyFromName(record_.family).value_or(widget::Family::Small);
}

void WidgetWindow::reload() {
    reloads_.request();
}

void WidgetWindow::setFamily(const QString& family) {
    if (family == record_.family || !widget::familyFromName(family))
        return;
    record_.family = family;
    view_.reset();
    setFixedSize(widget::familySize(this->family()));
    showEntry(plugin_.plugin->placeholder({this->family(), false}));
    reload();
}

void WidgetWindow::setConfiguration(const QJsonObject& configuration) {
    record_.configuration = configuration;
    reload();
}

void WidgetWindow::setRecordPosition(const QPoint& position, const QString& screen) {
    record_.position = position;
    record_.screen = screen;
}

// Timelines are read on a worker thread; one at a time per widget, and a reload that comes
// while one runs asks once more when it is done.
void WidgetWindow::requestTimeline() {
    if (reading_) {
        readAgain_ = true;
        return;
    }
    ++requests_;
    reading_ = true;
    const widget::WidgetPlugin* plugin = plugin_.plugin;
    const QVariantMap configuration = pluginConfiguration(record_.configuration);
    const widget::Context context{family(), false};
    auto read = [plugin, configuration, context] {
        return plugin->timeline(configuration, context);
    };
    offThread(this, std::move(read), [this](const widget::Timeline& timeline) {
        reading_ = false;
        apply(timeline);
        emit timelineApplied(record_.id);
        if (std::exchange(readAgain_, false))
            reload();
    });
}

void WidgetWindow::apply(const widget::Timeline& timeline) {
    timeline_ = timeline;
    std::sort(timeline_.entries.begin(), timeline_.entries.end(),
              [](const widget::Entry& a, const widget::Entry& b) { return a.date < b.date; });
    // The latest entry already due, else the first one.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const widget::Entry* current = nullptr;
    for (const widget::Entry& entry : timeline_.entries)
        if (!current || entry.date <= now)
            current = &entry;
    if (current)
        showEntry(*current);
    schedule();
}

void WidgetWindow::showEntry(const widget::Entry& entry) {
    if (view_) {
        view_->setEntry(entry);
        return;
    }
    view_ = plugin_.plugin->createView(entry, family(), actions_, this);
    if (view_) {
        layout()->addWidget(view_->widget());
        view_->widget()->show();
    }
}

// Wakes at the next entry's date or the "after" instant, whichever comes first, on the boot
// clock so time asleep counts. A timeline without "after" is asked again at no fixed time.
void WidgetWindow::schedule() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QDateTime next = timeline_.after;
    for (const widget::Entry& entry : timeline_.entries)
        if (entry.date > now && (!next.isValid() || entry.date < next))
            next = entry.date;
    if (!next.isValid()) {
        wake_->stop();
        return;
    }
    wake_->start(std::chrono::milliseconds(std::max<qint64>(now.msecsTo(next), 0)));
}

void WidgetWindow::contextMenuEvent(QContextMenuEvent* event) {
    auto* menu = new QMenu(this);
    auto add = [&](const QString& text, const QString& action) {
        QAction* a = menu->addAction(text);
        connect(a, &QAction::triggered, this,
                [this, action] { emit menuAction(record_.id, action); });
        return a;
    };
    add(QStringLiteral("编辑小组件…"), QStringLiteral("edit"));
    menu->addSeparator();
    for (const auto& [name, title] : familyTitles) {
        if (!plugin_.description.families.contains(*widget::familyFromName(QLatin1String(name))))
            continue;
        QAction* a = add(QString::fromUtf8(title), QStringLiteral("family:") + QLatin1String(name));
        a->setCheckable(true);
        a->setChecked(record_.family == QLatin1String(name));
    }
    menu->addSeparator();
    add(QStringLiteral("移除小组件"), QStringLiteral("remove"));
    add(QStringLiteral("添加小组件…"), QStringLiteral("gallery"));
    menu->addSeparator();
    add(QStringLiteral("退出"), QStringLiteral("quit"));
    popUpMenu(this, menu, event->globalPos());
}

void WidgetWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!isVisible())
        return;
    const QScreen* screen = this->screen();
    setRecordPosition(pos(), screen ? screen->name() : QString());
    emit moved(record_.id);
}

bool WidgetWindow::dragEvent(QEvent* event) {
    auto* mouse = static_cast<QMouseEvent*>(event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (mouse->button() != Qt::LeftButton)
            return false;
        pressed_ = true;
        dragging_ = manualDrag_ = false;
        pressAt_ = mouse->globalPosition().toPoint();
        windowAt_ = pos();
        return false;
    case QEvent::MouseMove:
        if (!pressed_ || !(mouse->buttons() & Qt::LeftButton))
            return false;
        if (!dragging_ && (mouse->globalPosition().toPoint() - pressAt_).manhattanLength() >=
                              QApplication::startDragDistance()) {
            dragging_ = true;
            // The window manager moves it when it can (snapping, edges); else we do.
            manualDrag_ = !(windowHandle() && windowHandle()->startSystemMove());
        }
        if (dragging_ && manualDrag_)
            move(windowAt_ + mouse->globalPosition().toPoint() - pressAt_);
        return dragging_;
    case QEvent::MouseButtonRelease:
        if (mouse->button() != Qt::LeftButton || !pressed_)
            return false;
        pressed_ = false;
        if (!dragging_)
            return false;
        dragging_ = false;
        return true;
    default:
        return false;
    }
}

} // namespace tessel::host
