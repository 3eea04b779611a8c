#include "app/QuitOnSignal.h"

#include <QCoreApplication>

#include "app/cli/TerminationSignals.h"

namespace vandrel::app {

void QuitOnTerminationSignals() {
    OnTerminationSignals([] { QCoreApplication::quit(); });
}

}  // namespace vandrel::app
