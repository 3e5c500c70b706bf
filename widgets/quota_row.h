// One subscription in the medium and large widgets: its title and balance, the window's name
// and reset time, and a bar of what is left. Screen readers get it as one element named by all
// its texts.
#pragma once

#include <QStringList>
#include <QWidget>

#include "model/records.h"
#include "storage/widget_preferences.h"

namespace tessel {

// The window a subscription's figures come from: the first, if it has any.
const QuotaWindow* firstWindow(const Quota& quota);

class QuotaRowView : public QWidget {
    Q_OBJECT
public:
    // The balance takes at most `valueWidth` of the title line.
    QuotaRowView(const Quota& quota, const WidgetPreferences& preferences, bool spacious,
                 int valueWidth, QWidget* parent = nullptr);

    // What it shows, line by line in reading order.
    const QStringList& texts() const { return texts_; }

private:
    QStringList texts_;
};

} // namespace tessel
