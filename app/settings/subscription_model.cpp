#include "app/settings/subscription_model.h"

#include <algorithm>

#include "session/off_thread.h"
#include "sync/data_sync_service.h"
#include "sync/workers.h"

namespace tessel {

namespace {

// Whether two lists give the same rows.
bool sameRows(const std::vector<Quota>& a, const std::vector<Quota>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Quota& x, const Quota& y) {
        return x.provider == y.provider && x.kind == y.kind && x.user == y.user &&
               x.from == y.from && x.plan == y.plan && x.title() == y.title();
    });
}

} // namespace

SubscriptionModel::SubscriptionModel(DataSyncService* sync, const QString& leading, QObject* parent)
    : QAbstractListModel(parent), sync_(sync), leading_(leading),
      shown_(sync ? sync->published() : SharedSnapshot::make({})) {
    if (sync_)
        connect(sync_, &DataSyncService::snapshotChanged, this, &SubscriptionModel::follow);
}

void SubscriptionModel::follow() {
    if (!sync_)
        return;
    if (comparing_) {
        again_ = true; // the newest snapshot is taken once this comparison is done
        return;
    }
    SharedSnapshot::Ptr next = sync_->published();
    if (next == shown_)
        return;
    comparing_ = true;
    auto compare = [shown = shown_, next] {
        return sameRows(shown->snapshot().quotas, next->snapshot().quotas);
    };
    offThread(
        this, std::move(compare),
        [this, next](bool same) {
            comparing_ = false;
            if (same) {
                shown_ = next; // the same rows: views need not know
            } else {
                beginResetModel();
                shown_ = next;
                endResetModel();
            }
            if (std::exchange(again_, false))
                follow();
            else
                emit followed();
        },
        Workers::pool());
}

int SubscriptionModel::rowOf(const QString& id) const {
    const int offset = leading_.isEmpty() ? 0 : 1;
    if (id.isEmpty() && offset)
        return 0;
    const std::optional<std::size_t> at = shown_->position(id.toStdString());
    return at ? int(*at) + offset : -1;
}

const Quota* SubscriptionModel::quota(int row) const {
    const std::vector<Quota>& quotas = shown_->snapshot().quotas;
    const int at = row - (leading_.isEmpty() ? 0 : 1);
    return at >= 0 && std::size_t(at) < quotas.size() ? &quotas[std::size_t(at)] : nullptr;
}

int SubscriptionModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid())
        return 0;
    return int(shown_->snapshot().quotas.size()) + (leading_.isEmpty() ? 0 : 1);
}

QVariant SubscriptionModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Quota* quota = this->quota(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return quota ? QString::fromStdString(quota->title()) : leading_;
    case idRole:
        return quota ? QString::fromStdString(quota->id()) : QString();
    case planRole:
    case Qt::AccessibleDescriptionRole:
        return quota ? QString::fromStdString(quota->plan.value_or("")) : QString();
    case Qt::ToolTipRole: {
        const QString title = data(index, Qt::DisplayRole).toString();
        const QString plan = data(index, planRole).toString();
        return plan.isEmpty() ? title : title + u'\n' + plan;
    }
    default:
        return {};
    }
}

} // namespace tessel
