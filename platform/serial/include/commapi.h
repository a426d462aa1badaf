#pragma once
// Serial communication in the Windows spelling. An open port is a kernel
// object behind a handle: CloseHandle closes it and completes whatever is
// still pending on it. Reads, writes and event waits are overlapped: they
// either complete at once (TRUE) or fail with ERROR_IO_PENDING and complete
// later, filling in the request block and signalling its hEvent (or the port
// itself when hEvent is 0).
#include "win32types.h"
#include "zqserial_export.h"

#include <string>

// Event mask bits (SetCommMask, WaitCommEvent).
constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_RXFLAG = 0x0002;
constexpr DWORD EV_TXEMPTY = 0x0004;
constexpr DWORD EV_CTS = 0x0008;
constexpr DWORD EV_DSR = 0x0010;
constexpr DWORD EV_RLSD = 0x0020;
constexpr DWORD EV_BREAK = 0x0040;
constexpr DWORD EV_ERR = 0x0080;
constexpr DWORD EV_RING = 0x0100;
constexpr DWORD EV_PERR = 0x0200;
constexpr DWORD EV_RX80FULL = 0x0400;
constexpr DWORD EV_EVENT1 = 0x0800;
constexpr DWORD EV_EVENT2 = 0x1000;

// PurgeComm flags.
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// GetCommModemStatus bits.
constexpr DWORD MS_CTS_ON = 0x0010;
constexpr DWORD MS_DSR_ON = 0x0020;
constexpr DWORD MS_RING_ON = 0x0040;
constexpr DWORD MS_RLSD_ON = 0x0080;

// ClearCommError error bits.
constexpr DWORD CE_RXOVER = 0x0001;
constexpr DWORD CE_OVERRUN = 0x0002;
constexpr DWORD CE_RXPARITY = 0x0004;
constexpr DWORD CE_FRAME = 0x0008;
constexpr DWORD CE_BREAK = 0x0010;
constexpr DWORD CE_TXFULL = 0x0100;
constexpr DWORD CE_PTO = 0x0200;
constexpr DWORD CE_IOE = 0x0400;
constexpr DWORD CE_DNS = 0x0800;
constexpr DWORD CE_OOP = 0x1000;
constexpr DWORD CE_MODE = 0x8000;

// EscapeCommFunction codes.
constexpr DWORD SETXOFF = 1;
constexpr DWORD SETXON = 2;
constexpr DWORD SETRTS = 3;
constexpr DWORD CLRRTS = 4;
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;
constexpr DWORD SETBREAK = 8;
constexpr DWORD CLRBREAK = 9;

// Line settings of the device-control block.
constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;

constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// Bits of DCB::Flags, the bit-field word of the Windows record.
constexpr DWORD DCB_fBinary = 0x0001;
constexpr DWORD DCB_fParity = 0x0002;
constexpr DWORD DCB_fOutxCtsFlow = 0x0004;
constexpr DWORD DCB_fOutxDsrFlow = 0x0008;
constexpr DWORD DCB_fDtrControlMask = 0x0030;
constexpr int DCB_fDtrControlShift = 4;
constexpr DWORD DCB_fDsrSensitivity = 0x0040;
constexpr DWORD DCB_fTXContinueOnXoff = 0x0080;
constexpr DWORD DCB_fOutX = 0x0100;
constexpr DWORD DCB_fInX = 0x0200;
constexpr DWORD DCB_fErrorChar = 0x0400;
constexpr DWORD DCB_fNull = 0x0800;
constexpr DWORD DCB_fRtsControlMask = 0x3000;
constexpr int DCB_fRtsControlShift = 12;
constexpr DWORD DCB_fAbortOnError = 0x4000;

// Device-control block, laid out byte for byte as the Windows record (it is
// also embedded in modem configuration blocks).
struct DCB {
    DWORD DCBlength = sizeof(DCB);
    DWORD BaudRate = 0;
    DWORD Flags = 0;
    WORD wReserved = 0;
    WORD XonLim = 0;
    WORD XoffLim = 0;
    BYTE ByteSize = 0;
    BYTE Parity = 0;
    BYTE StopBits = 0;
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EofChar = 0;
    char EvtChar = 0;
    WORD wReserved1 = 0;
};
static_assert(sizeof(DCB) == 28, "DCB must keep the Windows layout");

namespace zq::serial {

constexpr DWORD DcbDtrControl(const DCB& d)
{
    return (d.Flags & DCB_fDtrControlMask) >> DCB_fDtrControlShift;
}
constexpr DWORD DcbRtsControl(const DCB& d)
{
    return (d.Flags & DCB_fRtsControlMask) >> DCB_fRtsControlShift;
}

} // namespace zq::serial

// Bits of COMSTAT::Flags.
constexpr DWORD COMSTAT_fCtsHold = 0x01;
constexpr DWORD COMSTAT_fDsrHold = 0x02;
constexpr DWORD COMSTAT_fRlsdHold = 0x04;
constexpr DWORD COMSTAT_fXoffHold = 0x08;
constexpr DWORD COMSTAT_fXoffSent = 0x10;
constexpr DWORD COMSTAT_fEof = 0x20;
constexpr DWORD COMSTAT_fTxim = 0x40;

struct COMSTAT {
    DWORD Flags = 0;
    DWORD cbInQue = 0;
    DWORD cbOutQue = 0;
};
static_assert(sizeof(COMSTAT) == 12, "COMSTAT must keep the Windows layout");

// Read and write time-outs in milliseconds. A total time-out is
// multiplier x bytes + constant; all zero means no time-out.
struct COMMTIMEOUTS {
    DWORD ReadIntervalTimeout = 0;
    DWORD ReadTotalTimeoutMultiplier = 0;
    DWORD ReadTotalTimeoutConstant = 0;
    DWORD WriteTotalTimeoutMultiplier = 0;
    DWORD WriteTotalTimeoutConstant = 0;
};
static_assert(sizeof(COMMTIMEOUTS) == 20, "COMMTIMEOUTS must keep the Windows layout");

// Internal of a request block while its operation is pending; a completed
// block holds the operation's Windows error code (0 for success) there and
// the byte count in InternalHigh.
constexpr DWORD STATUS_PENDING = 0x00000103;

namespace zq::serial {

// Opens a serial device (/dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM*, a
// pseudo-terminal's slave, ...) for overlapped use, exclusively. On failure
// returns INVALID_HANDLE_VALUE with the last error set.
ZQSERIAL_EXPORT HANDLE OpenCommPort(const std::string& path);

} // namespace zq::serial

ZQSERIAL_EXPORT BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* stat);
ZQSERIAL_EXPORT BOOL SetupComm(HANDLE h, DWORD inQueue, DWORD outQueue);
ZQSERIAL_EXPORT BOOL GetCommTimeouts(HANDLE h, COMMTIMEOUTS* timeouts);
ZQSERIAL_EXPORT BOOL SetCommTimeouts(HANDLE h, const COMMTIMEOUTS* timeouts);
ZQSERIAL_EXPORT BOOL GetCommState(HANDLE h, DCB* dcb);
// A zero BaudRate keeps the port's speed; a zero ByteSize keeps its byte
// size, parity and stop bits.
ZQSERIAL_EXPORT BOOL SetCommState(HANDLE h, const DCB* dcb);
// Completes a pending WaitCommEvent with an empty mask.
ZQSERIAL_EXPORT BOOL SetCommMask(HANDLE h, DWORD mask);
ZQSERIAL_EXPORT BOOL GetCommMask(HANDLE h, DWORD* mask);
// Fails with ERROR_INVALID_PARAMETER while the mask is empty or another wait
// is pending. Without a request block it waits.
ZQSERIAL_EXPORT BOOL WaitCommEvent(HANDLE h, DWORD* mask, OVERLAPPED* ov);
ZQSERIAL_EXPORT BOOL EscapeCommFunction(HANDLE h, DWORD func);
ZQSERIAL_EXPORT BOOL PurgeComm(HANDLE h, DWORD flags);
// A device without modem lines (a pseudo-terminal) reports none.
ZQSERIAL_EXPORT BOOL GetCommModemStatus(HANDLE h, DWORD* status);

namespace zq::serial {

// How the port carries out RTS_CONTROL_TOGGLE of its state.
constexpr DWORD RTS_TOGGLE_OFF = 0; // the state asks for no toggle
constexpr DWORD RTS_TOGGLE_DRIVER = 1; // the driver's RS-485 mode switches RTS
constexpr DWORD RTS_TOGGLE_BY_WRITE = 2; // raised before a write, dropped when the transmitter is empty
ZQSERIAL_EXPORT BOOL GetCommRtsToggle(HANDLE h, DWORD* how);

} // namespace zq::serial

// Without a request block they wait. WriteFile takes its bytes at the call,
// so the caller's buffer may be reused as soon as it returns.
ZQSERIAL_EXPORT BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* read, OVERLAPPED* ov);
ZQSERIAL_EXPORT BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* written, OVERLAPPED* ov);
ZQSERIAL_EXPORT BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* transferred, BOOL wait);
// Cancels the operations the calling thread has pending on the port; they
// complete with ERROR_OPERATION_ABORTED before it returns.
ZQSERIAL_EXPORT BOOL CancelIo(HANDLE h);
