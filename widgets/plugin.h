// The plug-in's root object: the one widget kind, its configuration, provider and views.
#pragma once

#include <QObject>

#include "widget_api/widget_plugin.h"

namespace tessel {

class TesselWidgetBundle : public QObject, public widget::WidgetPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID TesselWidgetPlugin_iid FILE "plugin.json")
    Q_INTERFACES(tessel::widget::WidgetPlugin)
public:
    widget::WidgetDescription description() const override;
    QList<widget::Parameter> parameters() const override;
    QList<widget::Entity> suggestedEntities(const QString& parameterKey) const override;
    QList<widget::Entity> entities(const QString& parameterKey,
                                   const QStringList& ids) const override;
    widget::Entry placeholder(const widget::Context& context) const override;
    widget::Entry snapshot(const QVariantMap& configuration,
                           const widget::Context& context) const override;
    widget::Timeline timeline(const QVariantMap& configuration,
                              const widget::Context& context) const override;
    std::unique_ptr<widget::WidgetView> createView(const widget::Entry& entry,
                                                   widget::Family family,
                                                   const widget::ViewActions& actions,
                                                   QWidget* parent) const override;
};

} // namespace tessel
