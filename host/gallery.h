// "添加小组件…": every loaded widget with its name, description and a live preview of each
// family, and a button per family that places one.
#pragma once

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

    // New previews from the plug-ins' current data.
    void refresh();

private:
    struct Preview {
        const LoadedPlugin* plugin;
        widget::Family family;
        std::unique_ptr<widget::WidgetView> view;
    };
    std::vector<Preview> previews_;
};

// "小号", "中号", "大号".
QString familyTitle(widget::Family family);

} // namespace tessel::host
