#include "host/gallery.h"

#include "host/desktop_route.h"
#include "host/host.h"
#include "session/off_thread.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>

#include <utility>

namespace tessel::host {

QString familyTitle(widget::Family family) {
    switch (family) {
    case widget::Family::Small:
        return QStringLiteral("小号");
    case widget::Family::Medium:
        return QStringLiteral("中号");
    case widget::Family::Large:
        return QStringLiteral("大号");
    }
    return {};
}

Gallery::Gallery(Host* host) : refreshes_(std::chrono::milliseconds(500), [this] { reread(); }) {
    setWindowTitle(QStringLiteral("添加小组件"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    if (const QString limitation = Desktop::limitation(); !limitation.isEmpty()) {
        auto* note = new QLabel(limitation);
        note->setObjectName(QStringLiteral("limitation"));
        note->setAccessibleName(limitation);
        note->setWordWrap(true);
        layout->addWidget(note);
    }
    if (host->plugins().isEmpty()) {
        auto* none =
            new QLabel(QStringLiteral("未找到桌面小组件。请确认已安装 Tessel 小组件插件。"));
        none->setAccessibleName(none->text());
        none->setWordWrap(true);
        layout->addWidget(none);
    }
    for (const LoadedPlugin& plugin : host->plugins()) {
        auto* name = new QLabel(plugin.description.displayName);
        QFont font = name->font();
        font.setPointSizeF(font.pointSizeF() * 1.35);
        font.setWeight(QFont::DemiBold);
        name->setFont(font);
        name->setAccessibleName(name->text());
        auto* text = new QLabel(plugin.description.description);
        text->setWordWrap(true);
        text->setAccessibleName(text->text());
        layout->addWidget(name);
        layout->addWidget(text);
        // The previews stand on a darker stage, so that their own background shows as a card.
        auto* stage = new QFrame;
        stage->setObjectName(QStringLiteral("stage"));
        stage->setStyleSheet(QStringLiteral("#stage { background: %1; border-radius: 12px; }")
                                 .arg(palette().color(QPalette::Window).darker(112).name()));
        auto* row = new QHBoxLayout(stage);
        row->setContentsMargins(20, 20, 20, 16);
        row->setSpacing(20);
        for (widget::Family family : plugin.description.families) {
            auto* column = new QVBoxLayout;
            column->setSpacing(8);
            // A preview shows and runs nothing: its links and buttons are still reachable
            // through a screen reader's actions, which no mouse flag stops.
            widget::ViewActions inert;
            inert.openUrl = [](const QUrl&) {};
            inert.runIntent = [](const widget::Intent&) {};
            // The real preview follows from a worker: reading the snapshot takes as long as
            // the snapshot is large.
            std::unique_ptr<widget::WidgetView> view = plugin.plugin->createView(
                plugin.plugin->placeholder({family, true}), family, inert, this);
            if (view) {
                // Nor does it take clicks or focus.
                view->widget()->setAttribute(Qt::WA_TransparentForMouseEvents);
                view->widget()->setFocusPolicy(Qt::NoFocus);
                for (QWidget* child : view->widget()->findChildren<QWidget*>())
                    child->setFocusPolicy(Qt::NoFocus);
                view->widget()->setFixedSize(widget::familySize(family));
                column->addWidget(view->widget(), 0, Qt::AlignTop | Qt::AlignHCenter);
            }
            column->addStretch(1);
            auto* add = new QPushButton(QStringLiteral("添加%1").arg(familyTitle(family)));
            add->setAccessibleName(QStringLiteral("添加%1小组件").arg(familyTitle(family)));
            connect(add, &QPushButton::clicked, this,
                    [host, kind = plugin.description.kind, family] {
                        host->place(kind, widget::familyName(family));
                    });
            column->addWidget(add, 0, Qt::AlignHCenter);
            row->addLayout(column);
            previews_.push_back({plugin.plugin, family, std::move(view)});
        }
        row->addStretch(1);
        layout->addWidget(stage);
    }
    layout->addStretch(1);
    // Centred on the screen the user works on, not wherever the window manager starts.
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    reread();
}

Gallery::~Gallery() = default;

// One read at a time; a refresh that comes meanwhile reads once more when it is done. The
// watcher dies with the gallery; a read still running then finishes unheard.
void Gallery::reread() {
    if (reading_) {
        readAgain_ = true;
        return;
    }
    QList<std::pair<const widget::WidgetPlugin*, widget::Family>> wanted;
    for (const Preview& p : previews_)
        wanted.append({p.plugin, p.family});
    if (wanted.isEmpty())
        return;
    reading_ = true;
    auto read = [wanted] {
        QList<widget::Entry> entries;
        for (const auto& [plugin, family] : wanted)
            entries.append(plugin->snapshot({}, {family, true}));
        return entries;
    };
    offThread(this, std::move(read), [this](const QList<widget::Entry>& entries) {
        reading_ = false;
        for (std::size_t i = 0; i < previews_.size() && i < std::size_t(entries.size()); ++i)
            if (previews_[i].view)
                previews_[i].view->setEntry(entries[qsizetype(i)]);
        if (std::exchange(readAgain_, false))
            reread();
    });
}

} // namespace tessel::host
