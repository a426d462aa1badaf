#pragma once
// Finding modems: the entries of the registry's modem class as the modem
// provider reads them, and asking serial ports once whether a modem answers.
// Shared by the provider and the setup tool (zqlines --modem-*). Nothing here
// keeps state; any thread may call it, one scan at a time per process.
#include "win32types.h"

#include <string>
#include <vector>

namespace zq::modem {

// One modem of the class.
struct ModemInfo {
    std::string name; // FriendlyName
    std::string device; // /dev/ttyUSB0
    std::string userInit;
    std::string registryKey; // where the settings live, below HKEY_LOCAL_MACHINE
    std::string subkey; // the modem class subkey (0000, ...): the line's lasting key
};

// The device an "AttachedTo" value names: "ttyUSB0" is /dev/ttyUSB0, a full
// path is itself.
std::string DevicePath(const std::string& attachedTo);
// The "AttachedTo" value for a port given by name or by path: a path below
// /dev/ is kept by its name there, so that DevicePath() gives it back.
std::string AttachedToValue(const std::string& port);
// Whether the device exists now (a USB modem may be unplugged).
bool PortPresent(const std::string& device);

// All modems of the class (entries with a name and a port), their ports
// there or not; read (if given) says whether the class itself could be read.
std::vector<ModemInfo> ListClassModems(bool* read = nullptr);
// The modem's init string as its class entry holds it now (the user may have
// changed it since the entry was listed); the listed one when the entry
// cannot be read.
std::string CurrentUserInit(const ModemInfo& modem);

// What asking one port came to.
struct PortAnswer {
    enum class Result {
        Added, // a modem answered and is now in the class
        NoAnswer, // the port opened, nothing answered within a second
        CannotOpen, // error says why (busy, no access, not a terminal...)
        InClass, // a modem of the class is on it already: not asked
        AskedBefore, // asked by an earlier scan, the same device on it: not asked
        NotSaved, // a modem answered but the class could not be written
    };
    std::string port; // /dev/ttyACM0
    Result result = Result::NoAnswer;
    std::string name; // Added, NotSaved: the FriendlyName it was given
    std::string subkey; // Added: its class subkey
    DWORD error = 0; // CannotOpen: the Windows error code
};

// Asks serial ports whether a modem answers (ATE0I) and adds each one that
// does to the class, named from udev's model or else from its answer.
// Without ports: every /dev/ttyACM* and /dev/ttyUSB* not in the class, each
// asked only once while the same device sits on it (built-in ttyS* ports
// exist whether or not anything is attached, so they are not asked). With
// ports (names or paths): those, asked even when asked before, as a user
// names them to have them asked again. Takes up to a second per port asked.
std::vector<PortAnswer> ScanSerialPorts(const std::vector<std::string>& ports = {});

} // namespace zq::modem
