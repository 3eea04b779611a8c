#include "support/EventRecorder.h"

#include <algorithm>

#include "support/EventPump.h"

namespace vandrel::test {

using namespace net;

const char* stateName(TSocketState s) {
    static const char* const names[] = {"wsInvalidState", "wsOpened",         "wsBound",
                                        "wsConnecting",   "wsSocksConnected", "wsConnected",
                                        "wsAccepting",    "wsListening",      "wsClosed"};
    return names[static_cast<int>(s)];
}

void EventRecorder::attach(TCustomWSocket& s) {
    s.OnChangeState = [this](TObject*, TSocketState o, TSocketState n) {
        events.push_back(std::string(stateName(o)) + "->" + stateName(n));
    };
    s.OnSessionConnected = [this](TObject*, Word e) {
        events.push_back("connected:" + std::to_string(e));
    };
    s.OnSessionClosed = [this](TObject*, Word e) {
        events.push_back("closed:" + std::to_string(e));
    };
    s.OnDataSent = [this](TObject*, Word e) { events.push_back("sent:" + std::to_string(e)); };
    s.OnError = [this](TObject*) {
        ++errors;
        events.push_back("error");
    };
}

int EventRecorder::count(const std::string& e) const {
    return static_cast<int>(std::count(events.begin(), events.end(), e));
}

bool EventRecorder::hasPrefix(const std::string& prefix) const {
    return std::any_of(events.begin(), events.end(),
                       [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

std::string EventRecorder::joined() const {
    std::string out;
    for (const std::string& e : events) {
        out += (out.empty() ? "" : " ") + e;
    }
    return out;
}

std::string EventRecorder::road() const {
    std::string out;
    for (const std::string& e : events) {
        if (e.find("->") == std::string::npos) {
            out += (out.empty() ? "" : " ") + e;
        }
    }
    return out;
}

void prepareLoopback(TCustomWSocket& s, const std::string& port, const std::string& proto) {
    s.SetProto(proto);
    s.SetAddr("127.0.0.1");
    s.SetPort(port);
}

bool RecordedSocket::connectTo(const std::string& port) {
    prepareLoopback(s, port);
    s.Connect();
    return pumpUntil([&] { return rec.has("sent:0") || rec.has("closed:0"); }) &&
           s.State() == wsConnected;
}

}  // namespace vandrel::test
