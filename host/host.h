// The running widget host: the placed widgets, their record, the gallery and configuration
// sheets, reload requests from the session bus and hand-overs from later starts.
#pragma once

#include "host/host_settings.h"
#include "host/plugins.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <optional>

class QScreen;

namespace tessel::host {

class ClockWatch;
class ConfigSheet;
class Gallery;
class WidgetWindow;

class Host : public QObject {
    Q_OBJECT
public:
    Host(QList<LoadedPlugin> plugins, QString settingsPath, QObject* parent = nullptr);
    ~Host() override;

    // Places every recorded widget; false when there is none (nothing to show yet).
    bool restore();

    const QList<LoadedPlugin>& plugins() const { return plugins_; }
    QList<WidgetWindow*> windows() const;
    WidgetWindow* window(const QString& id) const { return windows_.value(id); }
    Gallery* gallery() const;
    ConfigSheet* sheet(const QString& id) const;

    WidgetWindow* place(const QString& kind, widget::Family family);
    void remove(const QString& id);
    void setFamily(const QString& id, widget::Family family);
    void setConfiguration(const QString& id, const QJsonObject& configuration);
    void showGallery();
    void edit(const QString& id);
    // A reload request for `kind`: every placed widget of it asks for a new timeline.
    void reloadKind(const QString& kind);
    // A later start's request.
    void handle(const QString& request);

    // Where a widget of `size` goes: a free spot on `screen` (the primary one when null).
    QPoint freeSpot(QSize size, const QScreen* screen) const;
    // `wanted` when a screen shows all of it, else moved onto the screen that shows most of it,
    // else onto `preferred` (by name) or the primary screen.
    QPoint repaired(QPoint wanted, QSize size, const QString& preferred) const;

protected:
    // Mouse events of every placed widget's view pass here first, for dragging.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // The last widget went and no window of the host is open: nothing left to do.
    void idle();

private slots:
    void reloadSignal(const QString& kind);

private:
    // A spot of `screen`'s available area that no widget but `except` takes, if there is one.
    std::optional<QPoint> findFree(QSize size, const QScreen* screen,
                                   const WidgetWindow* except) const;
    WidgetWindow* open(const PlacedWidget& record);
    const LoadedPlugin* pluginFor(const QString& kind) const;
    void menuAction(const QString& id, const QString& action);
    void save();
    void keepAutostart(bool wanted);
    void repairAll();
    void checkIdle();

    QList<LoadedPlugin> plugins_;
    QString settingsPath_;
    QList<PlacedWidget> unplaced_; // records of kinds no loaded plug-in offers: kept, not shown
    QHash<QString, WidgetWindow*> windows_;
    QStringList order_;
    QHash<QString, QPointer<ConfigSheet>> sheets_;
    QPointer<Gallery> gallery_;
    ClockWatch* clock_;
    QTimer saveSoon_;
};

} // namespace tessel::host
