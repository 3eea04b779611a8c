#include "app/HostLookup.h"

#include <QObject>

#include <memory>
#include <mutex>
#include <thread>

#include "discovery/TSocketStack.h"
#include "discovery/UDPErrors.h"
#include "net/HandOver.h"
#include "net/SocketErrorCodes.h"

namespace vandrel::app {

namespace {

// The receiver as the worker sees it: cleared under the lock when the receiver is destroyed,
// so that the worker never posts to an object that is gone.
struct LookupReceiver {
    std::mutex Lock;
    QObject* Object = nullptr;
    QMetaObject::Connection Watch;
};

}  // namespace

HostLookupResult ResolveHostName(const std::string& name) {
    HostLookupResult result;
    try {
        result.Addresses = discovery::TSocketStack::AddressesOf(name);
    } catch (const discovery::EUDPSocketError& e) {
        result.Error = e.LastError() != 0 ? e.LastError() : net::WSAHOST_NOT_FOUND;
    }
    return result;
}

void LookUpHostLater(QObject* receiver, const std::string& name,
                     std::function<void(const HostLookupResult&)> done) {
    HostResolver resolve = HostResolverSeam::Current();
    if (!resolve) {
        resolve = ResolveHostName;
    }
    auto target = std::make_shared<LookupReceiver>();
    target->Object = receiver;
    target->Watch = QObject::connect(receiver, &QObject::destroyed, [target] {
        std::lock_guard guard(target->Lock);
        target->Object = nullptr;
    });
    std::thread([target, resolve = std::move(resolve), name, done = std::move(done)]() mutable {
        HostLookupResult result;
        try {
            result = resolve(name);
        } catch (...) {
            result = {};
        }
        if (result.Error == 0 && result.Addresses.empty()) {
            result.Error = net::WSAHOST_NOT_FOUND;
        }
        std::lock_guard guard(target->Lock);
        if (target->Object == nullptr) {
            return;
        }
        net::InvokeQueued(target->Object,
                          [target, done = std::move(done), result = std::move(result)] {
                              QObject::disconnect(target->Watch);
                              done(result);
                          });
    }).detach();
}

}  // namespace vandrel::app
