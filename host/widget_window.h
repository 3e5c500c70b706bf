// One placed widget: a frameless desktop window of its family's size that shows the plug-in's
// view of the widget's current entry and asks for a new timeline when told to, at the timeline's
// "after" instant and at the next entry's date.
#pragma once

#include "host/coalescer.h"
#include "host/host_settings.h"
#include "host/plugins.h"

#include <QPoint>
#include <QWidget>

#include <memory>

namespace tessel {
class BootClockTimer;
}

namespace tessel::host {

QVariantMap pluginConfiguration(const QJsonObject& stored);

class WidgetWindow : public QWidget {
    Q_OBJECT
public:
    // Reload requests closer together than this make one timeline request.
    static constexpr std::chrono::milliseconds reloadWindow{500};

    WidgetWindow(const PlacedWidget& record, const LoadedPlugin& plugin,
                 const widget::ViewActions& actions);
    ~WidgetWindow() override;

    const PlacedWidget& record() const { return record_; }
    const LoadedPlugin& plugin() const { return plugin_; }
    widget::WidgetView* view() const { return view_.get(); }
    widget::Family family() const;
    // How many timelines were asked for; what tests and the benchmark watch.
    int timelineRequests() const { return requests_; }
    // No timeline asked for or awaited.
    bool idle() const { return !reloads_.pending() && !reading_; }

    // Coalesced: a burst makes one request.
    void reload();
    void setFamily(const QString& family);
    void setConfiguration(const QJsonObject& configuration);
    void setRecordPosition(const QPoint& position, const QString& screen);

    // Dragging, fed by the host's application-wide filter with events of this window's widgets.
    // True when the event was taken (a drag, not a click).
    bool dragEvent(QEvent* event);

signals:
    void menuAction(const QString& id, const QString& action);
    void moved(const QString& id);
    void timelineApplied(const QString& id);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void requestTimeline();
    void apply(const widget::Timeline& timeline);
    void showEntry(const widget::Entry& entry);
    void schedule();

    PlacedWidget record_;
    LoadedPlugin plugin_;
    widget::ViewActions actions_;
    std::unique_ptr<widget::WidgetView> view_;
    widget::Timeline timeline_;
    Coalescer reloads_;
    BootClockTimer* wake_;
    bool reading_ = false;
    bool readAgain_ = false; // a reload came while reading
    quint64 generation_ = 0;
    int requests_ = 0;
    QPoint pressAt_;
    QPoint windowAt_;
    bool pressed_ = false;
    bool dragging_ = false;
    bool manualDrag_ = false;
};

} // namespace tessel::host
