#pragma once
// The commands that put a modem into the state its configuration asks for.
// Each setting is its own command line, so that a modem refusing one of them
// (ERROR) refuses only that one and the others still take effect.
#include <cstdint>
#include <string>
#include <vector>

namespace zq::modem {

// The settings of the modem's configuration block that reach the modem.
struct ModemSettings {
    uint32_t callSetupFailTimer = 60; // seconds
    uint32_t inactivityTimeout = 10; // seconds, 0 = none
    uint32_t speakerVolume = 0; // 0 low, 1 medium, 2 high
    uint32_t speakerMode = 3; // 0 off, 1 while dialling, 2 always, 3 during call set-up
    uint32_t preferredOptions = 0x2 | 0x1 | 0x4 | 0x80 | 0x20; // MDM_ bits
    uint32_t maxRate = 115200; // the port's speed
};

struct InitCommand {
    std::string command; // without "AT" and the CR
    std::string setting; // what it sets, for the log line when refused
};

std::vector<InitCommand> initCommands(const ModemSettings& settings);

// The user's own init string as a command line body: without a leading "AT",
// refused (empty) when it holds a character that would end the line early.
std::string userInitBody(const std::string& text);

} // namespace zq::modem
