#include "snapshot.h"

namespace tessel {

std::string Snapshot::status(Instant now) const {
    if (issue)
        return "离线 / 同步异常";
    if (!updatedAt)
        return "等待同步";
    if (elapsed(*updatedAt, now) > freshness)
        return "数据已过期";
    return "已同步";
}

bool Snapshot::stale(Instant at) const {
    return !updatedAt || elapsed(*updatedAt, at) > freshness;
}

} // namespace tessel
