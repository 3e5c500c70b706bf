#include "widgets/plugin_entry.h"

#include <QPointer>

#include "widgets/widget_content.h"

namespace tessel::PluginEntry {

namespace {

struct Box : widget::EntryData {
    explicit Box(Entry e) : entry(std::move(e)) {}
    Entry entry;
};

class View : public widget::WidgetView {
public:
    explicit View(WidgetContent* content) : content_(content), family_(content->family()) {}
    ~View() override { delete content_.data(); }

    QWidget* widget() const override { return content_; }
    widget::Family family() const override { return family_; }
    void setEntry(const widget::Entry& entry) override {
        if (content_)
            content_->setEntry(unwrap(entry));
    }
    QList<widget::ViewItem> items() const override {
        return content_ ? content_->items() : QList<widget::ViewItem>{};
    }
    QUrl tapUrl() const override { return content_ ? content_->tapUrl() : QUrl(); }
    QImage render(qreal devicePixelRatio) const override {
        return content_ ? content_->render(devicePixelRatio) : QImage();
    }

private:
    QPointer<WidgetContent> content_;
    widget::Family family_;
};

} // namespace

QDateTime dateTime(Instant instant) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(instant.time_since_epoch()).count(),
        Qt::UTC);
}

widget::Entry wrap(Entry entry) {
    const QDateTime date = dateTime(entry.date);
    return {date, std::make_shared<const Box>(std::move(entry))};
}

Entry unwrap(const widget::Entry& entry) {
    if (const auto* box = dynamic_cast<const Box*>(entry.data.get()))
        return box->entry;
    return Provider::placeholder();
}

std::unique_ptr<widget::WidgetView> view(const widget::Entry& entry, widget::Family family,
                                         const widget::ViewActions& actions, QWidget* parent) {
    return std::make_unique<View>(new WidgetContent(family, unwrap(entry), actions, parent));
}

} // namespace tessel::PluginEntry
