// "添加小组件…": every loaded widget with its name, description and a live preview of each
// family, and a button per family that places one.
#pragma once

#include "host/coalescer.h"
#include "host/plugins.h"

#include <QWidget>

#include <memory>
#include <vector>

namespace tessel::host {

class Host;

class Gallery : public QWidget {
    Q_OBJECT
public:
    explicit Gallery(Host* host);
    ~Gallery() override;

    // New previews from the plug-ins' current data; coalesced like a widget's reloads.
    void refresh() { refreshes_.request(); }

private:
    struct Preview {
        const widget::WidgetPlugin* plugin; // loaded for the life of the process
        widget::Family family;
        std::unique_ptr<widget::WidgetView> view;
    };
    void reread();

    std::vector<Preview> previews_;
    Coalescer refreshes_;
    bool reading_ = false;
    bool readAgain_ = false;
};

// "小号", "中号", "大号".
QString familyTitle(widget::Family family);

} // namespace tessel::host
