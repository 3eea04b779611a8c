#pragma once

// Non-blocking TCP/UDP socket whose results arrive as events.
//
// Where the operations live:
//   TCustomWSocket.cpp         properties, logging, the message target and its
//                              dispatch (WndProc, Handle...Event), the Trigger...
//                              hooks, reports, ResetDefaults
//   TCustomWSocketConnect.cpp  Connect and the options it applies, Close, Abort,
//                              CloseLater, FreeLater, Shutdown
//   TCustomWSocketControl.cpp  Listen, Accept, Dup, SendTo, ReceiveFrom, Pause,
//                              Resume, thread attach and detach, PumpMessages,
//                              address queries, name lookups
//   TCustomWSocketData.cpp     Send and the send queue (SendQueue), TryToSend,
//                              Receive and the read-ahead (ReadAhead), the
//                              receive loop, Flush
//   SocketWindow.cpp          the message target and SocketMessage numbers;
//                              SocketMessageTarget.cpp turns readiness into them
// Its state in parts: RemoteEndpoint (Addr, Port, Proto and the socket address),
// SocketOptions (what the owner sets), NameLookup (the pending lookup, results).
// The layers above, each in its own file: TCustomSocksWSocket (SOCKS proxy
// client, with SocksRequest and SocksReplyParser), TCustomLineWSocket (line
// mode, with LineSplitter), TCustomSyncWSocket (waiting for a flag), TWSocket.
//
// Threading: a socket belongs to the thread that created it, which must run
// a Qt event loop (a QThread, or a QEventLoop of its own). Its message target
// (SocketWindow) lives in that thread; every hook runs there, from that
// thread's event loop, never from inside the call that started the operation
// (Send's completion, CloseLater and FreeLater are posted).
//
// Hooks: the On... members are std::function values, invoked synchronously
// and only when assigned, for example
//     sock.OnDataAvailable = [this](TObject* sender, Word err) { onData(err); };
//     sock.OnSessionClosed = nullptr;   // unassign
// Sender is the socket itself. A hook may close its socket, and it may destroy
// it (delete it, or FreeLater); the socket touches nothing of itself after a
// hook that destroyed it. An exception escaping a hook during event dispatch
// goes to OnBgException and, unless that clears CanClose, aborts the
// connection.
//
// Errors: operations report failures through OnError when it is assigned
// (LastError carries the code, the operation continues) and otherwise throw
// ESocketException with a text such as "Connection refused (#10061 in Connect)".
// All codes are socket error numbers (SocketErrorCodes.h).
//
// Properties are getter/setter pairs named after the property (Addr() /
// SetAddr()). After every close, Addr, Port and Proto must be assigned again
// (even with the same text) before the next Connect.

#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "net/ESocketException.h"
#include "net/NameLookup.h"
#include "net/ReadAhead.h"
#include "net/RemoteEndpoint.h"
#include "net/SendQueue.h"
#include "net/SocketOptions.h"
#include "net/SocketWindow.h"
#include "net/TObject.h"
#include "net/TSocketLogger.h"
#include "net/WSocketLibrary.h"

namespace vandrel::net {

using Word = std::uint16_t;

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsSocksConnected,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

using TDataAvailable = std::function<void(TObject* Sender, Word ErrCode)>;
using TDataSent = std::function<void(TObject* Sender, Word ErrCode)>;
using TSendData = std::function<void(TObject* Sender, int BytesSent)>;
using TSessionClosed = std::function<void(TObject* Sender, Word ErrCode)>;
using TSessionAvailable = std::function<void(TObject* Sender, Word ErrCode)>;
using TSessionConnected = std::function<void(TObject* Sender, Word ErrCode)>;
using TDnsLookupDone = std::function<void(TObject* Sender, Word ErrCode)>;
using TChangeState =
    std::function<void(TObject* Sender, TSocketState OldState, TSocketState NewState)>;
using TBgExceptionEvent =
    std::function<void(TObject* Sender, const std::exception& E, bool& CanClose)>;
using TNotifyEvent = std::function<void(TObject* Sender)>;

class TCustomWSocket : public TObject {
public:
    TCustomWSocket();
    ~TCustomWSocket() override;

    // ---- properties ----
    TSocketLogger* SocketLogger() const { return m_logger; }
    virtual void SetSocketLogger(TSocketLogger* logger);
    const std::string& Addr() const { return m_remote.addr; }
    void SetAddr(const std::string& value);
    const std::string& Port() const { return m_remote.port; }
    virtual void SetPort(const std::string& value);
    const std::string& Proto() const { return m_remote.proto; }
    virtual void SetProto(const std::string& value);
    const std::string& LocalAddr() const { return m_localAddr; }
    void SetLocalAddr(const std::string& value);
    const std::string& LocalPort() const { return m_localPortStr; }
    void SetLocalPort(const std::string& value);
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    const std::string& DnsResult() const { return m_lookup.Result(); }
    const std::vector<std::string>& DnsResultList() const { return m_lookup.ResultList(); }
    TSocketState State() const { return m_state; }
    int ReadCount() const { return m_readCount; }
    // Bytes readable now; -1 (with a report) when the query fails.
    virtual int RcvdCount();
    int LastError() const { return m_lastError; }
    void SetLastError(int value) { m_lastError = value; }
    bool MultiThreaded() const { return m_opts.multiThreaded; }
    void SetMultiThreaded(bool value) { m_opts.multiThreaded = value; }
    bool MultiCast() const { return m_opts.multiCast; }
    void SetMultiCast(bool value) { m_opts.multiCast = value; }
    const std::string& MultiCastAddrStr() const { return m_opts.multiCastAddrStr; }
    void SetMultiCastAddrStr(const std::string& value) { m_opts.multiCastAddrStr = value; }
    int MultiCastIpTTL() const { return m_opts.multiCastIpTTL; }
    void SetMultiCastIpTTL(int value) { m_opts.multiCastIpTTL = value; }
    bool ReuseAddr() const { return m_opts.reuseAddr; }
    void SetReuseAddr(bool value) { m_opts.reuseAddr = value; }
    TWSocketOptions ComponentOptions() const { return m_opts.componentOptions; }
    void SetComponentOptions(TWSocketOptions value) { m_opts.componentOptions = value; }
    int ListenBacklog() const { return m_opts.listenBacklog; }
    void SetListenBacklog(int value) { m_opts.listenBacklog = value; }
    std::uint8_t ReqVerLow() const;
    void SetReqVerLow(std::uint8_t value);
    std::uint8_t ReqVerHigh() const;
    void SetReqVerHigh(std::uint8_t value);
    int FlushTimeout() const { return m_opts.flushTimeout; }
    void SetFlushTimeout(int value) { m_opts.flushTimeout = value; }
    TSocketSendFlags SendFlags() const;
    // Anything but wsSendNormal / wsSendUrgent is refused with "Invalid SendFlags".
    void SetSendFlags(TSocketSendFlags value);
    TSocketLingerOnOff LingerOnOff() const { return m_opts.lingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff value) { m_opts.lingerOnOff = value; }
    int LingerTimeout() const { return m_opts.lingerTimeout; }
    void SetLingerTimeout(int value) { m_opts.lingerTimeout = value; }
    TSocketKeepAliveOnOff KeepAliveOnOff() const { return m_opts.keepAliveOnOff; }
    void SetKeepAliveOnOff(TSocketKeepAliveOnOff value) { m_opts.keepAliveOnOff = value; }
    int KeepAliveTime() const { return m_opts.keepAliveTime; }
    void SetKeepAliveTime(int value) { m_opts.keepAliveTime = value; }
    int KeepAliveInterval() const { return m_opts.keepAliveInterval; }
    void SetKeepAliveInterval(int value) { m_opts.keepAliveInterval = value; }
    // The limit of a whole connect, a proxy's handshake included, measured from
    // Connect; at least 1 ms. Kept across connections.
    std::chrono::milliseconds ConnectTimeout() const { return m_opts.connectTimeout; }
    void SetConnectTimeout(std::chrono::milliseconds value) {
        m_opts.connectTimeout = std::max(value, std::chrono::milliseconds{1});
    }

    // The library handle (-1 when there is none), the queue state, the
    // library's buffer sizes read at Connect, the target (nullptr while detached).
    SocketHandle HSocket() const { return m_hSocket; }
    bool AllSent() const { return m_allSent; }
    int BufferedByteCount() const;
    int SocketSndBufSize() const { return m_sndBufSize; }
    int SocketRcvBufSize() const { return m_rcvBufSize; }
    SocketWindow* Handle() const { return m_window.get(); }
    std::thread::id ThreadId() const { return m_threadId; }
    // Component name, used in log lines.
    const std::string& Name() const { return m_name; }
    void SetName(const std::string& value) { m_name = value; }

    // ---- events ----
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TDnsLookupDone OnDnsLookupDone;
    TNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

    // ---- operations ----
    virtual void Connect();
    virtual void Close();
    // Posted: Close / destruction happen from the event loop, behind pending
    // events. FreeLater is for sockets created with new and owned by nobody else.
    virtual void CloseLater();
    virtual void FreeLater();
    virtual void Abort();
    // Sends the queue while pumping messages; returns when all sent or closed.
    virtual void Flush();
    virtual void DrainUntilClosed();
    virtual void Listen();
    virtual SocketHandle Accept();
    // One receive: up to BufferSize bytes, 0 when the peer has closed, -1 with
    // LastError set (10035 when nothing is there). Small receives on stream
    // sockets are served from one larger system read, so RcvdCount counts
    // those bytes too.
    virtual int Receive(void* Buffer, int BufferSize);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr* From, int& FromLen);
    // Queues Len bytes and starts sending; returns Len (0 for Len <= 0), or -1
    // when not connected and OnError is assigned. OnDataSent follows from the
    // event loop once the queue is empty. Bytes of further Sends made before
    // the event loop runs again leave together with a single system call, and
    // they share one OnDataSent.
    virtual int Send(const void* Data, int Len);
    virtual int SendTo(const sockaddr* Dest, int DestLen, const void* Data, int Len);
    virtual int SendStr(const std::string& Str);
    virtual void DnsLookup(const std::string& HostName);
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    virtual void ReverseDnsLookupBlocking(const std::string& HostAddr);
    virtual void CancelLookup();
    virtual std::string GetPeerAddr();
    virtual std::string GetPeerPort();
    virtual int GetPeerName(sockaddr* Name, int NameLen);
    virtual std::string BoundPort();
    virtual std::string BoundAddr();
    virtual int GetSockName(sockaddr* Name, int& NameLen);
    virtual void Dup(SocketHandle NewHSocket);
    virtual void Shutdown(int How);
    virtual void Pause();
    virtual void Resume();
    virtual void PumpMessages();
    virtual void AttachToThread();
    virtual void DetachFromThread();

protected:
    // Shared flag that turns false when the socket is destroyed. Take it before
    // invoking a hook and test it afterwards before touching the socket again.
    using LifeToken = std::shared_ptr<const bool>;
    LifeToken Life() const { return m_alive; }
    static bool Alive(const LifeToken& t) { return *t; }
    bool Destroying() const { return m_destroying; }
    // The send queue: TBuffer blocks of the block size, sent from the front.
    const SendQueue& Queue() const { return m_sendQueue; }

    // Logging (nothing happens without a logger).
    virtual void DebugLog(TLogOption LogOption, const std::string& Msg);
    virtual bool CheckLogOptions(TLogOption LogOption) const;
    // The notification bit being handled during dispatch; 0 otherwise.
    long SelectEventActive() const { return m_selectEventActive; }

    // Message target and dispatch.
    virtual void WndProc(SocketMessage& Msg);
    virtual void CreateHiddenWindow();
    virtual void DestroyHiddenWindow();

    virtual void TryToSend();
    virtual void ResetDefaults();
    virtual void CloseWithError(bool Shut, Word Error);
    virtual void AbortWithError(Word Error);
    virtual bool BindSocket();
    virtual int RawSend(const void* Data, int Len);
    virtual void QueueSendData(const void* Data, int Len);

    virtual void ReportError(const std::string& Msg);
    virtual void HandleEventException(const std::exception& E);
    void ReportSocketError(const std::string& Operation);

    virtual bool TriggerDataAvailable(Word ErrCode);
    virtual void TriggerSessionAvailable(Word ErrCode);
    virtual void TriggerSessionConnected(Word ErrCode);
    virtual void DoSessionConnected(Word ErrCode);
    virtual void TriggerSessionClosed(Word ErrCode);
    virtual void TriggerDataSent(Word ErrCode);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDnsLookupDone(Word ErrCode);
    virtual void TriggerError();

    virtual int RawReceive(void* Buffer, int BufferSize, int Flags);
    virtual void HandleConnectEvent(Word Error);
    virtual void HandleReadEvent(Word Error);
    virtual void HandleWriteEvent(Word Error);
    virtual void HandleAcceptEvent(Word Error);
    virtual void HandleCloseEvent(Word Error);
    virtual void DupConnected();

    void EnterState(TSocketState NewState);
    void ReceiveLoop(Word Error, TWSocketOptions Options);
    void DiscardSendQueue();
    // These report a failure and return false.
    bool ApplyLinger();
    bool ApplyKeepAlive();
    // Bytes readable now (read-ahead plus the library's count); -1 when the
    // library query fails.
    int PendingByteCount();
    // Puts bytes a layer took out of the stream back in front, to be read first.
    void ReturnToReadAhead(const void* Data, int Len);
    // The remote end resolved for the library's connect, for a layer that
    // connects somewhere else than Addr:Port (the SOCKS proxy).
    bool RemotePortResolved() const { return m_remote.portResolved; }
    bool RemoteAddrResolved() const { return m_remote.addrResolved; }
    void SetResolvedRemotePort(std::uint16_t portHostOrder) {
        m_remote.SetResolvedPort(portHostOrder);
    }
    void SetResolvedRemoteAddr(std::uint32_t addrNetOrder) {
        m_remote.SetResolvedAddr(addrNetOrder);
    }
    // When the connect that Connect started last must have ended: Connect's
    // time plus ConnectTimeout.
    std::chrono::steady_clock::time_point ConnectDeadline() const { return m_connectDeadline; }
    // Set once PumpMessages has met a request to quit the thread's event loop.
    bool Terminated() const { return m_terminated; }

private:
    void DispatchSocketEvent(SocketMessage& Msg);
    void LookupDone(SocketMessage& Msg);
    void StartLookup(unsigned msg, std::function<void(NameLookup::Job&)> work);
    // A lookup refused before it started: the error, then OnDnsLookupDone(10022).
    void RejectLookup(const char* text);
    // The common start of both reverse lookups: checks the text, forgets the
    // previous lookup and converts the address; false after a refusal.
    bool PrepareReverseLookup(const std::string& HostAddr, std::uint32_t& addr);
    void ListenOnResolved();
    bool ListenByType();
    bool ResolveForConnect();
    bool PrepareStreamSocket();
    bool PrepareDatagramSocket();
    bool RegisterEvents(long mask);
    void ReportLastError(const std::string& Operation);
    bool QueryPeer(sockaddr_in& peer, const char* Operation);
    bool QueryBound(sockaddr_in& local);
    int ReceiveFromReadAhead(void* Buffer, int BufferSize);
    void OfferReadAhead();
    void DiscardReadAhead();
    int SendGathered();
    void SendFailed(int err);
    bool CreateSocket();
    // The library calls on the own handle, each followed by what it means for the
    // notifications: the socket re-arms its own target, nothing below calls back up.
    int LibraryReceive(void* Buffer, int BufferSize, int Flags);
    void NoteSendResult(int result, std::size_t offered);
    int CloseHandle();
    std::string Identity() const;

    // Lifetime and the thread the socket belongs to.
    std::shared_ptr<bool> m_alive;
    bool m_destroying = false;
    std::unique_ptr<SocketWindow> m_window;
    std::thread::id m_threadId;
    TSocketLogger* m_logger = nullptr;
    std::string m_name;

    // Where it connects or listens, what it applies, what it looked up.
    RemoteEndpoint m_remote;
    SocketOptions m_opts;
    NameLookup m_lookup;
    // The local end: LocalAddr and LocalPort, the port as bound.
    std::string m_localAddr = "0.0.0.0";
    std::string m_localPortStr = "0";
    bool m_localPortResolved = false;
    std::uint16_t m_localPortNum = 0;

    // The library handle and the connection's state.
    SocketHandle m_hSocket = INVALID_SOCKET;
    SocketHandle m_aSocket = INVALID_SOCKET;
    TSocketState m_state = wsClosed;
    int m_lastError = 0;
    bool m_closeInvoked = false;
    bool m_terminated = false;
    bool m_paused = false;
    long m_selectEvent = 0;
    long m_selectEventActive = 0;
    std::chrono::steady_clock::time_point m_connectDeadline;
    int m_sndBufSize = 0;
    int m_rcvBufSize = 0;

    // The data path. Blocks of 1460 bytes.
    SendQueue m_sendQueue{1460};
    bool m_allSent = true;
    int m_readCount = 0;
    // Small receives are served from one larger library receive; only for
    // stream sockets, whose bytes carry no boundaries.
    ReadAhead m_readAhead;
    bool m_readAheadOffered = false;
    // Set while the library is full: sends wait for the write notification
    // instead of asking the library again.
    bool m_sendBlocked = false;
    bool m_sentShort = false;
    // Send has posted a write notification that has not been handled yet.
    bool m_writePosted = false;
    // TryToSend is inside its library send, where OnSendData runs.
    bool m_inSendCall = false;
};

}  // namespace vandrel::net
