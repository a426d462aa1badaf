#pragma once
// The provider interface of the telephony service. A provider supplies line
// devices, the calls on them, their sound and their data ports; the service
// owns applications, handles, messages and request identifiers. A provider
// knows only its lines and calls and reports what happens on them through
// the ServiceSink.
//
// ADDING A PROVIDER
//   One folder platform/telephony/providers/<name>/ with a CMakeLists.txt that
//   builds a static library and registers it:
//       add_library(zqtp_<name> STATIC ...)
//       target_link_libraries(zqtp_<name> PRIVATE zqtelephony_toolkit)
//       zq_telephony_provider(<Name> zqtp_<name> <factory> [FALLBACK])
//   where <factory> is the qualified name of a function
//       std::unique_ptr<zq::telephony::Provider> <factory>();
//   The service links every registered provider and builds its table of them
//   at configure time; nothing else changes. <Name> is the provider's name in
//   the registry store: its settings live under
//   HKLM\SOFTWARE\zqcomm\Telephony\<Name> (ProviderSettingsKey() in the
//   toolkit), and the DWORD value "Enabled" there decides whether it runs:
//   1 runs it, 0 does not. Without an "Enabled" value a provider does not run,
//   except the FALLBACK one (the simulated exchange), which runs when no other
//   provider runs, so the program works on any machine.
//
// LIFETIME
//   The service starts the enabled providers once, on its first use (the
//   first lineInitialize, or lineGetDevConfig/lineSetDevConfig/
//   lineConfigDialog before any), and keeps them until the process ends.
//   Their lines keep their device identifiers for that life. The one
//   exception: when no application is registered and a provider's settings
//   changed (Provider::SettingsChanged, the set of enabled providers, or the
//   registry store in use), the next first use stops every provider and
//   starts them again; identifiers are then given afresh. Providers are not
//   stopped when the process ends: one that must take leave of a peer (a SIP
//   unregistration) does so from its own exit handler or lets it expire.
//   Lines that appear or go later are reported with ServiceSink::LineAdded /
//   LineRemoved; applications get LINE_CREATE / LINE_REMOVE and the
//   device-change broadcast (WM_DEVICECHANGE, DBT_DEVNODES_CHANGED).
//
// THREADS AND LOCKING
//   ServiceLock() is the one lock of the service and its providers
//   (recursive). Provider::Start, Provider::Stop, ProviderLine::Open and
//   ProviderLine::Close are called WITHOUT it (one at a time: the service
//   serialises them), so they may wait for the provider's own threads, and
//   a thread being joined may take ServiceLock() meanwhile. Every other
//   method of ProviderLine and ProviderCall is called WITH ServiceLock() held
//   and must not wait for a thread that takes it.
//   A provider calls the sink only while holding ServiceLock(): a thread of
//   its own (a modem's reader, a SIP stack) takes it, then reports. Timers
//   started through ServiceSink::StartTimer already run under it.
//   A provider must not report events of a call from inside the method that
//   creates it or that was asked of it (MakeCall, Answer, Drop, ...): the
//   caller has no handle or request yet. It reports from its own thread or
//   from a timer (0 ms is fine).
//   LineAudio methods run on wave device threads WITHOUT ServiceLock and must
//   never take it (the wave layer may hold its own locks meanwhile).
//
// REQUESTS AND CALL STATES
//   Asynchronous requests (MakeCall, Answer, Drop, SetBearerMode) return 0
//   when accepted (the provider then completes requestId exactly once with
//   RequestCompleted) or a LINEERR code (and never complete it).
//   - MakeCall completes with 0 as soon as the dial has been accepted (the
//     number sent to the exchange, the INVITE sent, ATD written). What
//     happens then arrives as call states: PROCEEDING / RINGBACK, CONNECTED,
//     BUSY, or DISCONNECTED with its mode (LINEDISCONNECTMODE_BUSY, _NOANSWER,
//     _UNREACHABLE, _REJECT, _UNAVAIL ...). Busy, no answer and failures of
//     the far end are never completion errors: an application that gets an
//     error reply gives up on the call.
//   - A call's first state may be reported at once after the completion (in
//     the same timer, the next read of a port): applications cope with a
//     state arriving right after the reply.
//   - Answer completes when the answer has been sent; CONNECTED follows.
//   - Drop completes when the call has been released; the call goes IDLE
//     (with DISCONNECTED first if the far end did not end it).
//   - requestId 0 means nobody waits for the completion (the service ends a
//     call because its last owner closed the line); do not complete it.
//   A call ends with IDLE. A call that an application no longer holds
//   (ProviderCall::Released) and that is DISCONNECTED is taken to IDLE by the
//   provider itself.
//
// DATA CALLS: LENDING THE PORT
//   For "comm/datamodem" the service asks ProviderCall::LendPort for a handle
//   on the connected call's data path; the application owns that handle and
//   closes it with CloseHandle. When it does, the service calls
//   ProviderCall::PortReturned with that handle (lock held, on the closing
//   thread, possibly from inside a CloseHandle the provider makes itself): a
//   modem provider then escapes to command mode and hangs up, or takes the
//   port back for the next call. A lent port whose call ends loses its
//   carrier (the provider drops DCD/DSR on it); it is still returned only
//   when the application closes it.
//
// LINE SOUND: WAVE DEVICES
//   A line with sound returns a LineAudio from ProviderLine::Audio. The
//   service registers the line's wave-in and wave-out devices (named
//   "<line name> Record" / "<line name> Playback") the first time it meets
//   the line's key, and keeps them for the life of the process: identifiers
//   stay the same across provider restarts and when a removed line comes back
//   under the same key (LineCaps::key). The devices:
//   - accept every PCM format they can convert to the line's own
//     (LineAudio::Format, usually 8 kHz 16-bit mono): 8 or 16 bits, one or two
//     channels, 4000 to 192000 samples per second; they convert rate,
//     width and channels (rate with libsoxr); any other format is refused
//     with WAVERR_BADFORMAT. A device opened with WAVE_MAPPED, or through
//     WAVE_MAPPER, behaves the same, as the system's mapper would convert.
//   - pass the converted audio to LineAudio::Play and take LineAudio::Record;
//     Play may block until the line has taken the audio (a modem paced by
//     flow control, an RTP sender at its packet clock): the wave device's
//     buffers complete as the line takes them.
//   - at the end of a call (and with no call) LineAudio::Play discards at
//     once and Record returns 0 (the device records silence): pending
//     buffers complete, nothing waits for a call that is gone.
//
// LINES IN AND OUT OF SERVICE, LINES GONE
//   LineInService(line, false) (a registration lost, a modem unplugged or
//   not answering): applications that have the line open get
//   LINE_LINEDEVSTATE with LINEDEVSTATE_OUTOFSERVICE; they keep their
//   handles, new calls are refused (LINEERR_RESOURCEUNAVAIL) and the
//   provider ends the line's calls itself with DISCONNECTED (mode
//   LINEDISCONNECTMODE_UNAVAIL, or _NORMAL if the far end was heard to hang
//   up) then, once released, IDLE. LineInService(line, true): they get
//   LINE_LINEDEVSTATE with LINEDEVSTATE_INSERVICE and may call again.
//   LineRemoved(line) (the line is lost for good): the provider has ended its
//   calls as above; every application that had it open gets LINE_CLOSE (its
//   handles on the line and its calls are gone), every application gets
//   LINE_REMOVE, and the line counts as closed: no ProviderLine::Close
//   follows.
//
// CONFIGURATION DIALOG
//   lineConfigDialog shows the line's own dialog when ProviderLine::
//   ConfigDialog offers one (a SIP line edits its account), else the modem
//   dialog on the line's "comm/datamodem" block, else it fails with
//   LINEERR_OPERATIONUNAVAIL. ConfigDialog is called with ServiceLock held and
//   returns a function the service runs afterwards on the GUI thread WITHOUT
//   the lock (modal; messages and timers go on meanwhile). The function may
//   outlive the line (another thread may restart the providers while the
//   dialog is open), so it must not refer to the line or the provider: it
//   edits the line's settings in the registry store. It returns 0, also when
//   the user cancels, or a LINEERR code. Saved settings take effect as every
//   settings change does: Provider::SettingsChanged reports them, and the
//   providers restart at the next first use with no application registered.
#include "win32types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zq::telephony {

class ProviderCall;
class ProviderLine;

using TimerId = uint64_t;

// The one lock of the service and its providers (recursive).
__attribute__((visibility("default"))) std::recursive_mutex& ServiceLock();

// What the service offers providers; see the locking rules above. Every
// method is called with ServiceLock() held.
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
    // Call information changed during the call (caller id after the first
    // ring, a SIP peer's new identity, the rate once connected):
    // LINECALLINFOSTATE_* bits; applications get LINE_CALLINFO.
    virtual void CallInfoChanged(ProviderCall* call, DWORD infoStates) = 0;
    // The line went out of service or came back (see above).
    virtual void LineInService(ProviderLine* line, bool inService) = 0;
    // A line that appeared after Start. It gets the next free device
    // identifier and must stay valid until LineRemoved has returned (or the
    // provider is stopped).
    virtual void LineAdded(ProviderLine* line) = 0;
    // A line that is gone for good. The provider has ended its calls; the
    // service closes it for the applications that had it open (LINE_CLOSE),
    // posts LINE_REMOVE, and never calls it again. Its identifier is not
    // reused.
    virtual void LineRemoved(ProviderLine* line) = 0;
    // Runs fn after delayMs on the service's timer thread, with the lock held.
    // Timers with the same deadline run in the order they were started.
    virtual TimerId StartTimer(DWORD delayMs, std::function<void()> fn) = 0;
    // After this returns (lock held), the timer's function will not run.
    virtual void CancelTimer(TimerId id) = 0;
};

// The sample format of a line's own sound.
struct AudioFormat {
    DWORD samplesPerSec = 8000;
    WORD bitsPerSample = 16; // 8 (unsigned) or 16 (signed, little-endian)
    WORD channels = 1;
};

// The sound of a line's calls in the line's own format; see LINE SOUND above.
// Called on the wave devices' threads without ServiceLock, never two at
// once for one direction. A wave device may still hold it for a moment after
// its line has been removed or its provider stopped: it must not refer to
// the line or the provider (share what it needs with them instead).
class LineAudio {
public:
    virtual ~LineAudio() = default;
    virtual AudioFormat Format() const { return {}; }
    // Audio an application plays, converted to Format(). May block until the
    // line has taken it; discards at once when no call is connected.
    virtual void Play(const void* data, size_t bytes) = 0;
    // The application reset or closed its wave-out: what is still queued for
    // the line may be dropped.
    virtual void PlayStopped() { }
    // Fills up to `bytes` (whole samples of Format()) with what the line
    // heard since the last call; returns how many it filled (the rest is
    // silence). 0 when no call is connected.
    virtual size_t Record(void* data, size_t bytes) = 0;
    // Recording starts: audio heard before is dropped.
    virtual void RecordStarted() { }
    // True: the wave devices pace at the line's real time (about 20 ms
    // pieces). False: they hand audio over as fast as buffers come.
    virtual bool RealTime() const { return true; }
};

struct LineCaps {
    // Identity of the line within its provider that stays the same across
    // starts (a settings subkey, an account, a port): the service keys the
    // line's wave devices on it.
    std::string key;
    std::string name; // also the modem's friendly name
    std::string portName;
    std::string number; // the line's own address
    DWORD bearerModes = 0;
    DWORD mediaModes = 0;
    DWORD maxRate = 0;
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
    // Asynchronous requests; see REQUESTS AND CALL STATES.
    virtual LONG Answer(DWORD requestId) = 0;
    virtual LONG Drop(DWORD requestId) = 0;
    virtual LONG SetBearerMode(DWORD requestId, DWORD bearerMode) = 0;
    // Union of the digit modes the handles on this call monitor (0 = none).
    virtual void MonitorDigits(DWORD digitModes) = 0;
    // A new handle on the call's data path, for the application to own;
    // INVALID_HANDLE_VALUE while the call has none. See DATA CALLS.
    virtual HANDLE LendPort() { return INVALID_HANDLE_VALUE; }
    // The application closed a handle LendPort gave.
    virtual void PortReturned(HANDLE port) { (void)port; }
    // No application holds a handle on the call any more.
    virtual void Released() { }
};

class ProviderLine {
public:
    virtual ~ProviderLine() = default;
    virtual LineCaps Caps() const = 0;
    // First open and last close of the device by any application; called
    // without ServiceLock. Open returns 0 or a LINEERR code.
    virtual LONG Open() = 0;
    virtual void Close() = 0;
    // Media modes of incoming calls that an owner will take (0 = nobody).
    // 0, or a LINEERR code when the line cannot wait for those calls (the
    // open that asked for them fails).
    virtual LONG SetDetection(DWORD ownerMediaModes) = 0;
    virtual LONG MakeCall(
        DWORD requestId, const MakeCallRequest& request, std::shared_ptr<ProviderCall>* call)
        = 0;
    // The call that holds the line now (for "comm/datamodem" asked of the
    // line rather than a call), or null.
    virtual std::shared_ptr<ProviderCall> CurrentCall() { return nullptr; }
    // The line's sound, or null for a line without wave devices. The same
    // object for the life of the line.
    virtual std::shared_ptr<LineAudio> Audio() { return nullptr; }
    // The "comm/datamodem" configuration block (empty: none).
    virtual std::vector<uint8_t> DevConfig() const = 0;
    virtual LONG SetDevConfig(const void* data, size_t size) = 0;
    // The line's own configuration dialog; see CONFIGURATION DIALOG. Empty:
    // the line has none.
    virtual std::function<LONG(HWND owner)> ConfigDialog() const { return {}; }
};

class Provider {
public:
    virtual ~Provider() = default;
    // Shown with each line ("Simulated exchange", "SIP", ...).
    virtual std::string Name() const = 0;
    // Without ServiceLock. Starts the provider; returns the lines it offers
    // now (more may come through LineAdded), valid until Stop or their
    // LineRemoved.
    virtual std::vector<ProviderLine*> Start(ServiceSink* sink) = 0;
    // After Start: 0, or the LINEERR code of a provider that could not
    // start (it has reported the cause where it arose). The service then
    // stops the providers again and the call that wanted them fails.
    virtual LONG StartError() const { return 0; }
    // Without ServiceLock. Ends every call, cancels every timer, joins the
    // provider's threads and frees the lines; nothing reaches the sink
    // afterwards. Called only when no application is registered.
    virtual void Stop() = 0;
    // Whether the settings the provider started with differ from those in
    // the registry store now (called with ServiceLock held, no application
    // registered). Values the provider writes itself do not count.
    virtual bool SettingsChanged() const { return false; }
};

using ProviderFactory = std::unique_ptr<Provider> (*)();

} // namespace zq::telephony
