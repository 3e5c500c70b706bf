#include "snapshot.h"

namespace tessel {

std::string Snapshot::status(Instant now) const {
    if (issue)
        return "离线 / 同步异常";
    if (!updatedAt)
        return "等待同步";
    if (now - *updatedAt > freshness)
        return "数据已过期";
    return "已同步";
}

bool Snapshot::stale(Instant at) const {
    return !updatedAt || at - *updatedAt > freshness;
}

} // namespace tessel
