#include "sync/shared_snapshot.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <functional>

#include "sync/workers.h"

namespace tessel {

namespace {

std::size_t hashOf(std::string_view id) {
    return std::hash<std::string_view>{}(id);
}

void release(const SharedSnapshot* snapshot) {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app && QThread::currentThread() == app->thread()) {
        Workers::pool()->start([snapshot] { delete snapshot; });
        return;
    }
    delete snapshot;
}

} // namespace

SharedSnapshot::SharedSnapshot(Snapshot snapshot) : snapshot_(std::move(snapshot)) {
    const std::vector<Quota>& quotas = snapshot_.quotas;
    ids_.reserve(quotas.size());
    for (std::size_t i = 0; i < quotas.size(); ++i)
        ids_.emplace_back(hashOf(quotas[i].id()), std::uint32_t(i));
    std::sort(ids_.begin(), ids_.end());
}

SharedSnapshot::Ptr SharedSnapshot::make(Snapshot snapshot) {
    return Ptr(new SharedSnapshot(std::move(snapshot)), release);
}

std::optional<std::size_t> SharedSnapshot::position(std::string_view id) const {
    const std::size_t hash = hashOf(id);
    auto at = std::lower_bound(ids_.begin(), ids_.end(), std::pair(hash, std::uint32_t(0)));
    for (; at != ids_.end() && at->first == hash; ++at) {
        if (snapshot_.quotas[at->second].id() == id)
            return at->second;
    }
    return std::nullopt;
}

const Quota* SharedSnapshot::quota(std::string_view id) const {
    const std::optional<std::size_t> at = position(id);
    return at ? &snapshot_.quotas[*at] : nullptr;
}

} // namespace tessel
