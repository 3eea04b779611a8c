#pragma once

#include "terminal/TCustomEmulT.h"

namespace vandrel::terminal {

// The terminal view as other parts of the program use it. It adds nothing to
// TCustomEmulT; the telnet terminal derives from it.
class TEmulT : public TCustomEmulT {
    Q_OBJECT

public:
    explicit TEmulT(QWidget* parent = nullptr) : TCustomEmulT(parent) {}
};

}  // namespace vandrel::terminal
