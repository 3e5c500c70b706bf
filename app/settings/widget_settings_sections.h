// The editor of the widget preferences: three grouped sections whose every change is written
// to the sync service at once (which saves it and asks the widgets to reload). Used inside the
// settings form and on the dashboard's widget page.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "model/records.h"
#include "model/widget_preferences.h"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QListView;
class QVBoxLayout;

namespace tessel {

class DataSyncService;
class SubscriptionSwitches;
class TextLabel;

// The selection rules of the subscription switches.
namespace SubscriptionSelection {
// Whether the switch of `id` shows on.
bool isOn(const std::vector<std::string>& providerIDs, const std::string& id);
// The list after the switch of `id` changed to `on`.
std::vector<std::string> toggled(const std::vector<std::string>& providerIDs,
                                 const std::vector<Quota>& quotas, const std::string& id, bool on);
} // namespace SubscriptionSelection

class WidgetSettingsSections : public QWidget {
    Q_OBJECT
public:
    explicit WidgetSettingsSections(DataSyncService* sync, QWidget* parent = nullptr);

    // The widget host the gallery button starts: the one built beside the application in the
    // build tree, else the one installed beside it, else the one on PATH; empty when there is
    // none.
    static QString hostProgram();

private:
    void defaultsSection(QVBoxLayout* page);
    void largeSection(QVBoxLayout* page);
    void filterSection(QVBoxLayout* page);
    void writeEdits();
    // Starts the widget host's gallery, or says in the section why it cannot.
    void openGallery();
    void write(const std::function<void(WidgetPreferences&)>& change);
    void showPreferences();
    void fitList();

    QPointer<DataSyncService> sync_;
    QComboBox* metric_;
    QComboBox* period_;
    QComboBox* quotaCount_;
    QCheckBox* showQuotas_;
    QCheckBox* showWindowName_;
    QCheckBox* showReset_;
    QCheckBox* showSync_;
    QCheckBox* showCost_;
    QCheckBox* showTokens_;
    QCheckBox* showChart_;
    QComboBox* chartMetric_;
    QCheckBox* showRequests_;
    QCheckBox* showAgents_;
    QCheckBox* all_;
    QFormLayout* large_;
    SubscriptionSwitches* model_;
    QListView* list_;
    TextLabel* galleryIssue_;
};

} // namespace tessel
