// One subscription's quota record: balance, quota windows with what is left and when they
// reset, and where the figures come from. Draws its content only; frames belong to the caller.
#pragma once

#include <QProgressBar>
#include <QString>
#include <QWidget>

#include <optional>

#include "model/records.h"

namespace tessel {

// The thin bar of a quota window, drawn the same under every widget style.
class QuotaBar : public QProgressBar {
    Q_OBJECT
public:
    static constexpr int scale = 1000; // steps per 100 %
    static constexpr double lowThreshold = 15.0;

    // `percent` may lie outside 0...100; the bar shows it clamped, the tint uses it as is.
    explicit QuotaBar(double percent, QWidget* parent = nullptr);

    double percent() const { return percent_; }
    bool low() const { return low_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyTint();

    double percent_;
    bool low_;
};

class QuotaCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int compactWindowLimit = 2;
    static constexpr int fullWindowLimit = 20;

    QuotaCard(const Quota& quota, bool compact, QWidget* parent = nullptr);

    const Quota& quota() const { return quota_; }
    bool compact() const { return compact_; }

    // "无限制", "未获取" or "剩余 P%".
    static QString valueText(const QuotaWindow& window);

private:
    void addHeader();
    void addWindow(const QuotaWindow& window, int position);
    void addSource();

    Quota quota_;
    bool compact_;
};

} // namespace tessel
