#include "net/HandOver.h"

#include <QMetaObject>
#include <QObject>

namespace vandrel::net {

std::mutex& HandOverLock() {
    // Never destroyed: threads may still post while static objects are torn down.
    static auto* lock = new std::mutex;
    return *lock;
}

void InvokeQueued(QObject* context, std::function<void()> call) {
    std::lock_guard guard(HandOverLock());
    QMetaObject::invokeMethod(
        context,
        [call = std::move(call)] {
            { std::lock_guard received(HandOverLock()); }
            call();
        },
        Qt::QueuedConnection);
}

}  // namespace vandrel::net
