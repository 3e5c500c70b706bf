// A widget's configuration sheet, built from the plug-in's parameters alone. Every change
// applies at once. Entity lists are read off the GUI thread and fill in when the read is done.
#pragma once

#include "host/plugins.h"

#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QWidget>

class QCheckBox;
class QListWidget;

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
    void fillEntities(QListWidget* list, const QString& key, QStringList chosen,
                      const QStringList& present, const QList<widget::Entity>& offered);
    void set(const QString& key, const QJsonValue& value);
    // Enables each parameter's controls unless a flag that overrides it is on, or its list is
    // still being read.
    void applyOverrides();

    // Plug-ins live as long as the process; the host's list of them may not.
    const widget::WidgetPlugin* plugin_;
    QString id_;
    QJsonObject configuration_;
    QHash<QString, QList<QWidget*>> controls_; // by key: the control and its title
    QList<std::pair<QCheckBox*, QStringList>> overriders_;
    QSet<QString> reading_; // entity lists whose entities are not read yet
};

} // namespace tessel::host
