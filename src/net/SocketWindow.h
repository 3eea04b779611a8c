#pragma once

// The message target of one socket, in place of a hidden window: it lives in
// the thread that created it and delivers posted messages (and the socket
// notifications registered with WSocket_WSAAsyncSelect) to its handler from
// that thread's Qt event loop, in posting order, behind events already
// pending.
//
// Notification semantics follow the asynchronous select it replaces:
// - FD_CONNECT when a non-blocking connect completes, with the SO_ERROR code;
//   after a successful connect an FD_WRITE follows;
// - FD_READ once per batch of readable data, re-armed only by a receive;
// - FD_WRITE again only after a send would have blocked;
// - FD_ACCEPT once per pending connection, re-armed by an accept;
// - FD_CLOSE once, after all data has been offered, with the close's error.
// - A connect without an answer after the time NoteConnecting is given:
//   FD_CONNECT with WSAETIMEDOUT (10060), the limit callers are written for
//   (21 s unless the socket's ConnectTimeout says otherwise), instead of Linux's
//   own give-up after about two minutes. A timer and not TCP_SYNCNT: the kernel
//   counts SYN retransmissions with doubling waits (1, 2, 4, 8, 16 s), so no
//   count gives 21 s (3 give 15 s, 4 give 31 s), and the waits depend on the
//   kernel's initial retransmission time.
// The library wrappers know nothing of this: the socket that made a call tells
// its own window what the call means through the Note... operations, which
// leave the library's last error as the call set it.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "net/WSocketLibrary.h"

namespace vandrel::net {

// A message for the socket's target: number, two parameters, result.
struct SocketMessage {
    unsigned Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

// Message numbers of the socket's target (user base 1024 plus an offset).
inline constexpr unsigned WM_USER_BASE = 1024;
inline constexpr unsigned MSG_SOCKET_EVENT = 1025;    // wParam handle, lParam bits | error << 16
inline constexpr unsigned MSG_NAME_LOOKUP = 1026;     // wParam lookup handle, lParam error << 16
inline constexpr unsigned MSG_ADDR_LOOKUP = 1027;     // as 1026
inline constexpr unsigned MSG_CLOSE_DELAYED = 1028;   // CloseLater
inline constexpr unsigned MSG_RELEASE = 1029;         // FreeLater
inline constexpr unsigned MSG_TEST_EXCEPTION = 1030;  // raises inside the handler

class SocketMessageTarget;
struct PostBox;

class SocketWindow {
public:
    using Handler = std::function<void(SocketMessage&)>;

    explicit SocketWindow(Handler handler);
    ~SocketWindow();
    SocketWindow(const SocketWindow&) = delete;
    SocketWindow& operator=(const SocketWindow&) = delete;

    // Queues a message behind every pending event of the target's thread.
    // Callable from any thread.
    void PostMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
    // Posts the message once delay has passed; dropped with the window. From
    // the target's own thread only.
    void PostMessageAfter(std::chrono::milliseconds delay, unsigned msg, std::uintptr_t wParam,
                          std::intptr_t lParam);
    std::thread::id ThreadId() const { return m_threadId; }

    // After a receive: re-enables the read notification.
    void NoteReceived();
    // After a send that would block or took only part: arms the write notification.
    void NoteSendBlocked();
    // After an accept: re-enables the accept notification.
    void NoteAccepted();
    // Before handle s closes: drops its registration and pending notifications.
    void NoteClosing(SocketHandle s);
    // A non-blocking connect of s is under way: unless it ends first, it ends
    // timeout after this with a connect notification carrying WSAETIMEDOUT.
    void NoteConnecting(SocketHandle s, std::chrono::milliseconds timeout);
    // A non-blocking connect of s that failed at once (a refusal on loopback,
    // for instance): delivered as a connect notification like any later one.
    // False when s is not registered here on the calling thread.
    bool NoteConnectFailed(SocketHandle s, int socketError);

    // A poster that stays safe to call from any thread after the window is
    // gone (it then drops the message). For work finishing on other threads.
    using Poster = std::function<void(unsigned, std::uintptr_t, std::intptr_t)>;
    Poster MakePoster() const;

    // Processes the calling thread's pending events. With ownThreadOnly the
    // posted events are flushed until none is left. False when the thread's
    // event loop has been asked to quit; the events are then left alone.
    static bool ProcessPendingMessages(bool ownThreadOnly);
    // True while the application object is missing or being destroyed.
    static bool ApplicationClosing();

private:
    friend int WSocket_WSAAsyncSelect(SocketHandle, SocketWindow*, unsigned, long);
    SocketMessageTarget* m_target;
    std::shared_ptr<PostBox> m_postBox;
    std::thread::id m_threadId;
};

// Registers handle s for the notifications in lEvent (FD_* bits), delivered as
// message wMsg with wParam = s and lParam = bits | (error << 16). Makes the
// handle non-blocking. lEvent 0 stops notifications. 0 or SOCKET_ERROR.
int WSocket_WSAAsyncSelect(SocketHandle s, SocketWindow* hWnd, unsigned wMsg, long lEvent);

}  // namespace vandrel::net
