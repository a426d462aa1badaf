#pragma once
// The provider that makes voice and data modems on serial ports line devices.
// Its lines are the modems of the registry's modem class; with the
// environment variable ZQ_MODEM_SCAN=1 it also looks for modems on the
// serial ports first (each port is asked once) and adds them to that class
// (ScanSerialPorts() in modemdiscovery.h, which zqlines --modem-scan uses).
#include "provider.h"

#include <memory>

namespace zq::modem {

std::unique_ptr<telephony::Provider> CreateModemProvider();

} // namespace zq::modem
