#pragma once

// The parts of the asynchronous select that the plain wrappers must drive:
// like the library it replaces, a receive re-enables the read notification, a
// send that would block arms the write notification, and an accept re-enables
// the accept notification. Implemented by TSocketWindow for the handles
// registered with WSocket_WSAAsyncSelect; unregistered handles are ignored.

#include "net/WSocketLibrary.h"

namespace vandrel::net {

class AsyncSelect {
public:
    static void NoteReceived(TSocket s);
    static void NoteSendBlocked(TSocket s);
    static void NoteAccepted(TSocket s);
    // Drops the registration (and its pending notifications) before the handle closes.
    static void NoteClosing(TSocket s);
    // A non-blocking connect that failed at once (a refusal on loopback, for
    // instance) on a handle registered for FD_CONNECT: the failure is delivered as
    // a connect notification like any later one. Returns false when unregistered.
    static bool NoteConnectFailed(TSocket s, int socketError);
};

}  // namespace vandrel::net
