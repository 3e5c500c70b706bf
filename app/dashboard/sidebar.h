// The dashboard's sidebar: "Tessel" with the bird, the four sections bound to the service's
// `screen`, and the connection status with the gateway's version.
#pragma once

#include <QTimer>
#include <QWidget>

#include <array>

class QLabel;
class QListWidget;

namespace tessel {

class DataSyncService;
class SymbolView;
class TextLabel;

class Sidebar : public QWidget {
    Q_OBJECT
public:
    static constexpr int minimumWidth = 185;
    static constexpr int idealWidth = 210;

    struct Section {
        QString label;
        QString symbol;
        QString screen;
    };
    static const std::array<Section, 4>& sections();

    explicit Sidebar(DataSyncService* sync, QWidget* parent = nullptr);

    QListWidget* list() const { return list_; }
    // The selected section's identifier; empty when none is selected.
    QString selected() const;
    TextLabel* status() const { return status_; }
    // "wifi.slash" or "circle.fill".
    QString statusSymbol() const;
    // Null while the snapshot has no version.
    QLabel* version() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void select();
    void updateStatus();

    DataSyncService* sync_;
    QListWidget* list_ = nullptr;
    SymbolView* offline_ = nullptr;
    SymbolView* online_ = nullptr;
    TextLabel* status_ = nullptr;
    TextLabel* version_ = nullptr;
    QTimer clock_;
};

} // namespace tessel
