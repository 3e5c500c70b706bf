#include "sync/workers.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

#include <algorithm>

namespace tessel::Workers {

QThreadPool* pool() {
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        // Two at least: a cycle waiting on a slow gateway must not hold up the views' work.
        pool->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
    }
    return pool;
}

} // namespace tessel::Workers
