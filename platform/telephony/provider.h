#pragma once
// The provider interface of the telephony service: a provider supplies line
// devices, the calls on them, their wave devices and their comm ports. The
// service owns applications, handles, messages and request identifiers; a
// provider only knows its lines and calls and reports what happens on them.
//
// Threads and locking. Every method below is called with ServiceLock() held,
// and a provider reports events only while holding it too (timers started
// through ServiceSink::StartTimer already run under it). A provider with
// threads of its own (a modem's reader, a SIP stack) takes ServiceLock()
// before it touches its lines or calls the sink, and never waits for its
// threads while holding it. A provider must not report events of a call from
// inside the method that creates it: it defers them (a 0 ms timer).
//
// Fitting the next providers:
// - A V.253 voice modem on a serial port: one ProviderLine per modem; Open
//   opens the port and initialises the modem, SetDetection switches ring
//   detection (auto-answer off, caller id on), MakeCall sends ATD and completes
//   the request on CONNECT/BUSY/NO CARRIER read by its port thread, the wave
//   devices feed the modem's voice mode (AT+VTX/+VRX), OpenCommPort hands out
//   the port itself for data calls, DevConfig is its modem block.
// - SIP accounts: one ProviderLine per account; Open registers, MakeCall sends
//   INVITE, answers and BYEs map to Answer and Drop, RTP audio feeds the wave
//   devices; OpenCommPort answers INVALID_HANDLE_VALUE (no data calls).
#include "win32types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tsp {

class ProviderCall;
class ProviderLine;

using TimerId = uint64_t;

// The one lock of the service and its providers (recursive).
std::recursive_mutex& ServiceLock();

// What the service offers providers; see the locking rules above.
class ServiceSink {
public:
    virtual ~ServiceSink() = default;
    // Completes an asynchronous request (result 0 or a LINEERR code).
    virtual void RequestCompleted(DWORD requestId, LONG result) = 0;
    virtual void CallStateChanged(ProviderCall* call, DWORD state, DWORD mode) = 0;
    // A new incoming call on a line, in the offering state. True when an
    // application got a handle on it.
    virtual bool CallOffered(ProviderLine* line, std::shared_ptr<ProviderCall> call) = 0;
    virtual void LineRinging(ProviderLine* line, DWORD ringCount) = 0;
    // A digit detected on a call; the service passes it to the handles that
    // monitor digits in that mode.
    virtual void DigitReceived(ProviderCall* call, char digit, DWORD digitMode) = 0;
    // Runs fn after delayMs on the service's timer thread, with the lock held.
    // Timers with the same deadline run in the order they were started.
    virtual TimerId StartTimer(DWORD delayMs, std::function<void()> fn) = 0;
    // After this returns (lock held), the timer's function will not run.
    virtual void CancelTimer(TimerId id) = 0;
};

struct LineCaps {
    std::string name; // also the modem's friendly name
    std::string portName;
    std::string number; // the line's own address
    DWORD bearerModes = 0;
    DWORD mediaModes = 0;
    DWORD maxRate = 0;
    DWORD waveInId = 0; // 0 = none
    DWORD waveOutId = 0; // 0 = none
    DWORD permanentId = 0;
};

struct CallDetails {
    DWORD bearerMode = 0;
    DWORD mediaMode = 0;
    DWORD rate = 0;
    DWORD origin = 0; // LINECALLORIGIN_*
    std::string callerId, callerName, calledId, calledName;
};

struct MakeCallRequest {
    std::string dialable; // empty: go off hook without dialling
    DWORD countryCode = 0;
    DWORD bearerMode = 0;
    DWORD mediaMode = 0;
};

class ProviderCall {
public:
    virtual ~ProviderCall() = default;
    virtual DWORD State() const = 0;
    virtual DWORD StateMode() const = 0;
    virtual CallDetails Details() const = 0;
    // Asynchronous requests: return 0 when accepted (the provider then
    // completes requestId through the sink) or a LINEERR code. requestId 0
    // means nobody waits for the completion (a line being closed).
    virtual LONG Answer(DWORD requestId) = 0;
    virtual LONG Drop(DWORD requestId) = 0;
    virtual LONG SetBearerMode(DWORD requestId, DWORD bearerMode) = 0;
    // Union of the digit modes the handles on this call monitor (0 = none).
    virtual void MonitorDigits(DWORD digitModes) = 0;
    // A new handle on the call's data path, owned by the caller;
    // INVALID_HANDLE_VALUE while the call has none.
    virtual HANDLE OpenCommPort() = 0;
    // No application holds a handle on the call any more.
    virtual void Released() { }
};

class ProviderLine {
public:
    virtual ~ProviderLine() = default;
    virtual LineCaps Caps() const = 0;
    // First open and last close of the device by any application.
    virtual LONG Open() = 0;
    virtual void Close() = 0;
    // Media modes of incoming calls that an owner will take (0 = nobody).
    virtual void SetDetection(DWORD ownerMediaModes) = 0;
    virtual LONG MakeCall(
        DWORD requestId, const MakeCallRequest& request, std::shared_ptr<ProviderCall>* call)
        = 0;
    // The data path of the line's connected call (see ProviderCall).
    virtual HANDLE OpenCommPort() = 0;
    virtual std::vector<uint8_t> DevConfig() const = 0;
    virtual LONG SetDevConfig(const void* data, size_t size) = 0;
};

class Provider {
public:
    virtual ~Provider() = default;
    virtual std::string Name() const = 0;
    // Starts the provider; returns the lines it offers, valid until Stop.
    virtual std::vector<ProviderLine*> Start(ServiceSink* sink) = 0;
    // Ends every call, cancels every timer and releases the lines.
    virtual void Stop() = 0;
};

} // namespace tsp
