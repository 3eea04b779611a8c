#include "support/EventRecorder.h"

#include <algorithm>

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

std::string EventRecorder::joined() const {
    std::string out;
    for (const std::string& e : events) {
        out += (out.empty() ? "" : " ") + e;
    }
    return out;
}

}  // namespace vandrel::test
