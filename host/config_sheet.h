// A widget's configuration sheet, built from the plug-in's parameters alone. Every change
// applies at once.
#pragma once

#include "host/plugins.h"

#include <QJsonObject>
#include <QWidget>

namespace tessel::host {

class ConfigSheet : public QWidget {
    Q_OBJECT
public:
    ConfigSheet(const LoadedPlugin& plugin, const QString& widgetId,
                const QJsonObject& configuration, QWidget* parent = nullptr);

    const QJsonObject& configuration() const { return configuration_; }

signals:
    void changed(const QString& widgetId, const QJsonObject& configuration);

private:
    void addFlag(const widget::Parameter& p);
    void addChoice(const widget::Parameter& p);
    void addEntities(const widget::Parameter& p);
    void set(const QString& key, const QJsonValue& value);

    const LoadedPlugin& plugin_;
    QString id_;
    QJsonObject configuration_;
};

} // namespace tessel::host
