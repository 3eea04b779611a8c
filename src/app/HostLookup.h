#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/Seam.h"

class QObject;

namespace vandrel::app {

// What a name lookup found: the IPv4 addresses in the resolver's order, or the socket error
// number of the failure (Addresses is then empty).
struct HostLookupResult {
    std::vector<std::string> Addresses;
    int Error = 0;
};

using HostResolver = std::function<HostLookupResult(const std::string& name)>;

// Lets tests answer name lookups (on the lookup's worker thread): the handler gets the name
// and returns what the resolver would, after as long as it likes.
class HostResolverSeam : public Seam<HostResolverSeam, HostResolver> {};

// The system resolver, blocking the calling thread until it answers.
HostLookupResult ResolveHostName(const std::string& name);

// Looks name up on a worker thread of its own, so that a resolver that never answers stalls
// nothing else, and calls done with the result in a later event-loop pass of receiver's
// thread. When receiver is gone by then, done is never called; nothing waits for the worker,
// which ends on its own once the resolver returns.
void LookUpHostLater(QObject* receiver, const std::string& name,
                     std::function<void(const HostLookupResult&)> done);

}  // namespace vandrel::app
