// The real QuotaCard on the offscreen platform: what each density shows, in which order.
#include <QImage>
#include <QLayout>

#include <string>

#include "support/app_fixture.h"
#include "ui/local_time.h"
#include "ui/quota_card.h"
#include "ui/style.h"
#include "ui/symbol_view.h"
#include "ui/symbols.h"
#include "ui/text_label.h"

using namespace std::chrono_literals;
using namespace tessel;

namespace {

// 2025-03-01T08:00:00Z
const Instant march1 = Instant(std::chrono::seconds(1740816000));

Quota quota(std::vector<QuotaWindow> windows = {}) {
    Quota q;
    q.provider = "fernhill";
    q.name = "Fernhill Grove";
    if (!windows.empty())
        q.windows = std::move(windows);
    return q;
}

// Label texts depth first in layout order: the order the user reads them.
void collect(QLayout* layout, QStringList& out) {
    for (int i = 0; layout && i < layout->count(); ++i) {
        QWidget* w = layout->itemAt(i)->widget();
        if (auto* label = qobject_cast<QLabel*>(w))
            out << label->text();
        else
            collect(w ? w->layout() : layout->itemAt(i)->layout(), out);
    }
}

QStringList texts(QWidget& card) {
    QStringList out;
    collect(card.layout(), out);
    return out;
}

template <class T = QLabel> T* part(QWidget& card, const char* name) {
    return card.findChild<T*>(name);
}

class Card : public ::testing::Test {
protected:
    void SetUp() override { test::app(); }
    test::ScopedEnv zone{"TZ", "UTC"};
    test::ScopedEnv locale{"LC_ALL", "zh_CN.UTF-8"};
};

TEST_F(Card, HeaderSymbolWarningAndStateLineAndLocalTimesFollowLocaleAndZone) {
    Quota q = quota();
    q.kind = "balance";
    q.balance = "$12.40";
    QuotaCard balance(q, false);
    EXPECT_EQ(part<SymbolView>(balance, "kindSymbol")->symbol(), "creditcard");
    EXPECT_EQ(part(balance, "state"), nullptr);
    EXPECT_EQ(part(balance, "errorSymbol"), nullptr);

    // The kind is matched exactly; an empty error still counts as one, an empty alias as none.
    q.kind = "Balance";
    q.error = "";
    q.alias = "";
    QuotaCard other(q, true);
    EXPECT_EQ(part<SymbolView>(other, "kindSymbol")->symbol(), "sparkles");
    auto* warning = part<SymbolView>(other, "errorSymbol");
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(warning->toolTip(), "提供商暂不可用，可能显示缓存数据");
    EXPECT_EQ(part(other, "title")->text(), "Fernhill Grove");
    EXPECT_EQ(part(other, "state"), nullptr); // it has a balance

    // No balance, no windows: the state line, which names the error first.
    q.balance.reset();
    q.error = "upstream 502";
    QuotaCard broken(q, true);
    EXPECT_EQ(part(broken, "state")->text(), "提供商暂不可用");
    q.error.reset();
    q.kind = "balance";
    q.windows = std::vector<QuotaWindow>{};
    QuotaCard empty(q, false);
    EXPECT_EQ(texts(empty), QStringList({"Fernhill Grove", "不支持或尚未提供余额"}));

    // Local times follow the locale and the zone (UTC here).
    const QLocale zh(QLocale::Chinese, QLocale::China);
    EXPECT_EQ(LocalTime::dateTime(march1, zh), "2025年3月1日 08:00");
    {
        test::ScopedEnv shanghai{"TZ", "Asia/Shanghai"};
        EXPECT_EQ(LocalTime::time(march1, zh), "16:00");
    }
    EXPECT_EQ(LocalTime::time(march1, zh), "08:00");

    // The user's locale: LC_ALL, then LC_TIME, then LANG; "C" means en_US.
    test::ScopedEnv all{"LC_ALL", std::nullopt};
    test::ScopedEnv time{"LC_TIME", "zh_CN.UTF-8"};
    test::ScopedEnv lang{"LANG", "de_DE.UTF-8"};
    EXPECT_EQ(LocalTime::time(march1), "08:00");
    test::ScopedEnv plain{"LC_TIME", "C"};
    EXPECT_TRUE(LocalTime::time(march1).endsWith("AM"));
}

TEST_F(Card, FullShowsEveryRowInOrderAndCompactLeavesOutTheSecondaryOnes) {
    QuotaWindow five = {.name = "5 小时", .remaining = 72.4};
    five.display = "28 / 100 次";
    five.resetsAt = march1;
    Quota q = quota({five, {.name = "每周", .used = 10}});
    q.plan = "Grove 12x";
    q.balance = "$3.00";
    q.asOf = march1 + 1h;
    q.readAt = march1 + 2h;
    q.readDeferred = true;
    const QString reset = "重置于 " + LocalTime::dateTime(march1);

    QuotaCard full(q, false);
    EXPECT_EQ(texts(full),
              QStringList({"Fernhill Grove", "Grove 12x", "$3.00", "5 小时", "剩余 72%",
                           "28 / 100 次", reset, "每周", "剩余 90%",
                           "源数据 " + LocalTime::dateTime(march1 + 1h), "· 延后读取"}));
    QuotaCard compact(q, true);
    EXPECT_EQ(texts(compact), QStringList({"Fernhill Grove", "$3.00", "5 小时", "剩余 72%", reset,
                                           "每周", "剩余 90%"}));

    // readAt stands in when asOf is absent; the deferred marker lives only inside that row.
    q.asOf.reset();
    q.readDeferred = false;
    QuotaCard readOnly(q, false);
    EXPECT_EQ(part(readOnly, "sourceTime")->text(), "源数据 " + LocalTime::dateTime(march1 + 2h));
    EXPECT_EQ(part(readOnly, "deferred"), nullptr);
    q.readAt.reset();
    q.readDeferred = true;
    QuotaCard noSource(q, false);
    EXPECT_EQ(part(noSource, "source"), nullptr);
    EXPECT_EQ(part(noSource, "deferred"), nullptr);

    // Windows are cut to twenty, or two, in stored order.
    std::vector<QuotaWindow> many;
    for (int i = 0; i < 25; ++i)
        many.push_back({.name = "w" + std::to_string(i), .remaining = i});
    for (bool compact : {false, true}) {
        QuotaCard card(quota(many), compact);
        const auto rows = card.findChildren<QWidget*>("window", Qt::FindDirectChildrenOnly);
        ASSERT_EQ(rows.size(),
                  compact ? QuotaCard::compactWindowLimit : QuotaCard::fullWindowLimit);
        for (int i = 0; i < rows.size(); ++i)
            EXPECT_EQ(rows[i]->findChild<QLabel*>("windowName")->text(), QString("w%1").arg(i));
    }
}

TEST_F(Card, ValueTextAndBarUseTheUnclampedPercentageAndPaintInTheirTintAtDevicePixels) {
    struct Case {
        QuotaWindow window;
        QString text;
        std::optional<int> bar; // in QuotaBar::scale steps; nullopt: no bar
        bool low = false;
    };
    QuotaWindow unlimited = {.name = "无限", .remaining = 40};
    unlimited.unlimited = true;
    const Case cases[] = {
        {unlimited, "无限制", std::nullopt},
        {{.name = "空"}, "未获取", std::nullopt},
        {{.name = "超额", .used = 130}, "剩余 0%", 0, true},
        {{.name = "负", .remaining = -5}, "剩余 -5%", 0, true},
        {{.name = "超出", .remaining = 150}, "剩余 150%", 1000, false},
        {{.name = "临界下", .remaining = 14.6}, "剩余 15%", 146, true},
        {{.name = "临界", .remaining = 15}, "剩余 15%", 150, false},
        {{.name = "已用", .used = 40}, "剩余 60%", 600, false},
        {{.name = "一半", .remaining = 62.5}, "剩余 62%", 625, false}, // C's rounding, as the tray
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window.name);
        QuotaCard card(quota({c.window}), false);
        EXPECT_EQ(part(card, "windowValue")->text(), c.text);
        auto* bar = part<QuotaBar>(card, "windowBar");
        ASSERT_EQ(bar != nullptr, c.bar.has_value());
        if (!bar)
            continue;
        EXPECT_EQ(bar->value(), *c.bar);
        EXPECT_EQ(bar->low(), c.low);
        const QPalette p = bar->palette();
        EXPECT_EQ(p.color(QPalette::Highlight), c.low ? Style::orange(p) : Style::mint(p));
    }

    // Bars and symbols paint in their tint at device pixels.
    for (double percent : {14.6, 150.0}) {
        QuotaBar bar(percent);
        bar.resize(200, 6);
        const QImage image = bar.grab().toImage();
        const QRgb tint = bar.palette().color(QPalette::Highlight).rgb();
        EXPECT_EQ(image.pixel(10, 3), tint);
        EXPECT_EQ(image.pixel(150, 3) == tint, percent > 100); // 14.6 % ends near x = 29
    }
    // 16 logical pixels at ratio 2 give a 32-pixel image for the screen, not a blown-up 16.
    const QColor tint(0xff, 0x80, 0x00);
    for (const QString& name : Symbols::names()) {
        SCOPED_TRACE(name.toStdString());
        const QImage image = Symbols::icon(name, tint).pixmap(QSize(16, 16), 2.0).toImage();
        EXPECT_EQ(image.size(), QSize(32, 32));
        int opaque = 0, foreign = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (const QColor c = image.pixelColor(x, y); c.alpha() == 255) {
                    ++opaque; // overlapping edges may round a step off
                    foreign += std::abs(c.red() - tint.red()) + std::abs(c.green() - tint.green()) +
                                   std::abs(c.blue() - tint.blue()) >
                               6;
                }
        EXPECT_GT(opaque, 20);
        EXPECT_EQ(foreign, 0);
    }

    // A window with its own dark palette gets light glyphs, not the application's dark text.
    SymbolView view("arrow.clockwise");
    QPalette dark;
    dark.setColor(QPalette::Window, Qt::black);
    dark.setColor(QPalette::WindowText, Qt::white);
    view.setPalette(dark);
    view.resize(24, 24);
    const QImage glyph = view.grab().toImage();
    int light = 0; // on black, edges blend to grey; black glyphs would leave none light
    for (int y = 0; y < glyph.height(); ++y)
        for (int x = 0; x < glyph.width(); ++x)
            light += glyph.pixelColor(x, y).lightness() > 200;
    EXPECT_GT(light, 10);
}

TEST_F(Card, HostileRecordsStayInsideTheirWidth) {
    const std::string endless(200000, 'x');
    QuotaWindow huge = {.name = std::string(20000, 'n'), .remaining = 1e300};
    huge.display = std::string(5000, 'y') + "\n" + std::string(20000, 'z');
    huge.resetsAt = march1;
    Quota q = quota(std::vector<QuotaWindow>(400, huge));
    q.name = endless + "\n第二行";
    q.plan = "";
    q.balance = endless;

    for (bool compact : {true, false}) {
        QuotaCard card(q, compact);
        card.resize(294, card.heightForWidth(294));
        card.show();
        QApplication::processEvents();
        EXPECT_LE(card.minimumSizeHint().width(), 294);
        auto* title = part<TextLabel>(card, "title");
        EXPECT_TRUE(title->isElided());
        EXPECT_EQ(title->visibleLines().size(), 1);
        EXPECT_TRUE(title->visibleLines()[0].endsWith(QChar(0x2026)));
        // An absurd figure gets elided instead of pushing the name out of the card.
        auto* value = part<TextLabel>(card, "windowValue");
        EXPECT_LE(value->geometry().right(), 294);
        EXPECT_TRUE(value->isElided());
        // Wrapped lines break inside a word longer than the line, instead of running off.
        auto* balance = part<TextLabel>(card, "balance");
        EXPECT_LE(balance->visibleLines().size(), 2);
        for (const QString& line : balance->visibleLines())
            EXPECT_LE(QFontMetrics(balance->font()).horizontalAdvance(line), 294);
        EXPECT_FALSE(card.grab().isNull());
    }
}

} // namespace
