// One timeline entry drawn for one widget family: header, main area, footer, background and
// the tap target.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <optional>
#include <vector>

#include "ui/style.h"
#include "widget_api/widget_plugin.h"
#include "widgets/provider.h"

class QBoxLayout;
class QHBoxLayout;
class QVBoxLayout;

namespace tessel {

class WidgetContent : public QWidget {
    Q_OBJECT
public:
    using Family = widget::Family;

    WidgetContent(Family family, Entry entry, widget::ViewActions actions = {},
                  QWidget* parent = nullptr);

    Family family() const { return family_; }
    const Entry& entry() const { return entry_; }
    void setEntry(Entry entry);

    QList<widget::ViewItem> items();
    QUrl tapUrl() const;
    // At the family's size, with rounded corners on a transparent background.
    QImage render(qreal devicePixelRatio);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Tracked {
        QPointer<QWidget> widget;
        widget::ViewItem::Role role;
        QString text;
        QUrl url;
        std::optional<widget::Intent> intent;
    };

    void rebuild();
    void ensureLaidOut();
    void header(QVBoxLayout* stack);
    void small(QVBoxLayout* stack);
    void smallFooter(QVBoxLayout* stack);
    void footer(QHBoxLayout* row);
    void quotaList(QVBoxLayout* stack);
    void quotaRow(QVBoxLayout* stack, const Quota& quota, bool spacious);
    void analytics(QVBoxLayout* stack);

    QWidget* text(QBoxLayout* into, const QString& text, const QFont& font, Style::Tint tint,
                  qreal minimumScale = 1.0, int maxLines = 1);
    void openUrl(const QUrl& url) const;
    void run(const widget::Intent& intent) const;

    Family family_;
    Entry entry_;
    widget::ViewActions actions_;
    QWidget* body_ = nullptr;
    std::vector<Tracked> tracked_;
    bool pressed_ = false;
    bool rounded_ = false;
};

} // namespace tessel
