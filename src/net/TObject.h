#pragma once

// Common base of the socket layer's components: every hook passes the object
// that fired it as its Sender.

namespace vandrel::net {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

}  // namespace vandrel::net
