// The service's subscriptions as list rows. The model keeps the published snapshot itself rather
// than copies of its texts, and makes a row's texts only when a view asks for that row. A new
// snapshot is compared with the shown one on a worker: rows are reset only when ids, titles or
// plans changed, so a cycle costs the GUI thread nothing per subscription, and a view keeps its
// current row and scroll position across cycles.
#pragma once

#include <QAbstractListModel>
#include <QPointer>

#include <string>

#include "sync/shared_snapshot.h"

namespace tessel {

class DataSyncService;

class SubscriptionModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int idRole = Qt::UserRole; // QString; a picker's item data
    static constexpr int planRole = Qt::UserRole + 1;

    // `leading`: the text of a row before the subscriptions, whose id is empty; none when empty.
    explicit SubscriptionModel(DataSyncService* sync, const QString& leading = {},
                               QObject* parent = nullptr);

    // The snapshot the rows are read from: the service's, or one it published before while
    // the newer one is being compared.
    const SharedSnapshot::Ptr& shown() const { return shown_; }
    // The row of a subscription id (the leading row for an empty one), or -1.
    int rowOf(const QString& id) const;
    // The subscription of a row; null for the leading row.
    const Quota* quota(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

signals:
    // After the rows caught up with a snapshot, whether they changed or not.
    void followed();

private:
    void follow();

    QPointer<DataSyncService> sync_;
    QString leading_;
    SharedSnapshot::Ptr shown_;
    bool comparing_ = false;
    bool again_ = false;
};

} // namespace tessel
