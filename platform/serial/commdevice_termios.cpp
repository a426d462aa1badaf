// A serial device of the system: a UART, a USB serial adapter or a
// pseudo-terminal, driven through termios.
#include "commport_p.h"
#include "lasterror.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <linux/serial.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace zq::serial;

namespace {

struct Speed {
    DWORD rate;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    { 50, B50 },
    { 75, B75 },
    { 110, B110 },
    { 134, B134 },
    { 150, B150 },
    { 200, B200 },
    { 300, B300 },
    { 600, B600 },
    { 1200, B1200 },
    { 1800, B1800 },
    { 2400, B2400 },
    { 4800, B4800 },
    { 9600, B9600 },
    { 19200, B19200 },
    { 38400, B38400 },
    { 57600, B57600 },
    { 115200, B115200 },
    { 230400, B230400 },
    { 460800, B460800 },
    { 500000, B500000 },
    { 576000, B576000 },
    { 921600, B921600 },
    { 1000000, B1000000 },
    { 1152000, B1152000 },
    { 1500000, B1500000 },
    { 2000000, B2000000 },
    { 2500000, B2500000 },
    { 3000000, B3000000 },
    { 3500000, B3500000 },
    { 4000000, B4000000 },
};

// Interrupts a thread blocked in the modem-line wait, which nothing but a
// signal or a line change ends.
int WakeSignal()
{
    return SIGRTMIN + 4;
}

void InstallWakeHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction old { };
        sigaction(WakeSignal(), nullptr, &old);
        if (old.sa_handler != SIG_DFL)
            return;
        struct sigaction sa { };
        sa.sa_handler = [](int) {};
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the wait must return EINTR
        sigaction(WakeSignal(), &sa, nullptr);
    });
}

DWORD LinesFromTiocm(int bits)
{
    DWORD lines = 0;
    if (bits & TIOCM_CTS)
        lines |= MS_CTS_ON;
    if (bits & TIOCM_DSR)
        lines |= MS_DSR_ON;
    if (bits & TIOCM_RNG)
        lines |= MS_RING_ON;
    if (bits & TIOCM_CD)
        lines |= MS_RLSD_ON;
    return lines;
}

class TermiosDevice : public CommDevice {
public:
    explicit TermiosDevice(int fd)
        : fd_(fd)
    {
        int bits;
        // A pseudo-terminal answers ENOTTY here: it has no modem lines.
        hasLines_ = ioctl(fd_, TIOCMGET, &bits) == 0;
        hasCounters_ = ioctl(fd_, TIOCGICOUNT, &counters_) == 0;
    }

    void InitialState(DCB& dcb) override
    {
        termios t {};
        if (tcgetattr(fd_, &t) != 0)
            return;
        const speed_t code = cfgetospeed(&t);
        for (const Speed& s : kSpeeds)
            if (s.code == code)
                dcb.BaudRate = s.rate;
        switch (t.c_cflag & CSIZE) {
        case CS5:
            dcb.ByteSize = 5;
            break;
        case CS6:
            dcb.ByteSize = 6;
            break;
        case CS7:
            dcb.ByteSize = 7;
            break;
        default:
            dcb.ByteSize = 8;
        }
        dcb.Parity = !(t.c_cflag & PARENB) ? NOPARITY : (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
        dcb.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    }

    bool ApplyState(const DCB& dcb) override
    {
        termios t {};
        if (tcgetattr(fd_, &t) != 0) {
            zq::kernel::SetLastErrorFromErrno(errno);
            return false;
        }
        const Speed* speed = std::find_if(
            std::begin(kSpeeds), std::end(kSpeeds), [&](const Speed& s) { return s.rate == dcb.BaudRate; });
        if (speed == std::end(kSpeeds)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
        cfsetispeed(&t, speed->code);
        cfsetospeed(&t, speed->code);
        static constexpr tcflag_t kSizes[] = { CS5, CS6, CS7, CS8 };
        t.c_cflag
            = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS)) | kSizes[dcb.ByteSize - 5];
        switch (dcb.Parity) {
        case ODDPARITY:
            t.c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.c_cflag |= PARENB;
            break;
        case MARKPARITY:
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        case SPACEPARITY:
            t.c_cflag |= PARENB | CMSPAR;
            break;
        }
        if (dcb.StopBits != ONESTOPBIT)
            t.c_cflag |= CSTOPB;
        if ((dcb.Flags & DCB_fOutxCtsFlow) || zq::serial::DcbRtsControl(dcb) == RTS_CONTROL_HANDSHAKE)
            t.c_cflag |= CRTSCTS;
        t.c_iflag &= ~(INPCK | IXON | IXOFF);
        if (dcb.Flags & DCB_fParity)
            t.c_iflag |= INPCK;
        if (dcb.Flags & DCB_fOutX)
            t.c_iflag |= IXON;
        if (dcb.Flags & DCB_fInX)
            t.c_iflag |= IXOFF;
        if (dcb.XonChar)
            t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
        if (dcb.XoffChar)
            t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
        if (tcsetattr(fd_, TCSANOW, &t) != 0) {
            zq::kernel::SetLastErrorFromErrno(errno);
            return false;
        }
        ApplyRtsToggle(zq::serial::DcbRtsControl(dcb) == RTS_CONTROL_TOGGLE);
        if (hasLines_) {
            if (zq::serial::DcbDtrControl(dcb) == DTR_CONTROL_ENABLE)
                SetLine(TIOCM_DTR, true);
            else if (zq::serial::DcbDtrControl(dcb) == DTR_CONTROL_DISABLE)
                SetLine(TIOCM_DTR, false);
            if (zq::serial::DcbRtsControl(dcb) == RTS_CONTROL_ENABLE)
                SetLine(TIOCM_RTS, true);
            else if (zq::serial::DcbRtsControl(dcb) == RTS_CONTROL_DISABLE)
                SetLine(TIOCM_RTS, false);
        }
        return true;
    }

    DWORD RtsToggle() override { return toggle_; }

    DWORD ModemStatus() override
    {
        int bits = 0;
        if (!hasLines_ || ioctl(fd_, TIOCMGET, &bits) != 0)
            return 0;
        return LinesFromTiocm(bits);
    }

    bool Escape(DWORD func) override
    {
        switch (func) {
        case SETRTS:
        case CLRRTS:
            return !hasLines_ || SetLine(TIOCM_RTS, func == SETRTS);
        case SETDTR:
        case CLRDTR:
            return !hasLines_ || SetLine(TIOCM_DTR, func == SETDTR);
        case SETBREAK:
        case CLRBREAK:
            if (ioctl(fd_, func == SETBREAK ? TIOCSBRK : TIOCCBRK) != 0) {
                zq::kernel::SetLastErrorFromErrno(errno);
                return false;
            }
            return true;
        case SETXOFF:
        case SETXON:
            if (tcflow(fd_, func == SETXOFF ? TCIOFF : TCION) != 0) {
                zq::kernel::SetLastErrorFromErrno(errno);
                return false;
            }
            return true;
        }
        return true;
    }

    void PurgeInput() override { tcflush(fd_, TCIFLUSH); }
    void PurgeOutput() override { tcflush(fd_, TCOFLUSH); }

    DWORD DeviceOutQueue() override
    {
        int n = 0;
        return ioctl(fd_, TIOCOUTQ, &n) == 0 && n > 0 ? static_cast<DWORD>(n) : 0;
    }

    void Prepare(std::vector<pollfd>& fds, CommTime&) override
    {
        if (hungUp_)
            return;
        short events = 0;
        if (port->InputRoom() > 0)
            events |= POLLIN;
        if (port->PendingOutputBytes() > 0)
            events |= POLLOUT;
        // Without interest the descriptor is left out, so a hang-up reported
        // in the meantime cannot keep the worker spinning.
        if (events)
            fds.push_back({ fd_, events, 0 });
    }

    void AfterPoll(const pollfd* fds, size_t n) override
    {
        if (n == 0)
            return;
        const short r = fds[0].revents;
        if (r & (POLLIN | POLLHUP | POLLERR))
            ReadAvailable();
        if ((r & POLLOUT) && !hungUp_)
            WriteAvailable();
        if ((r & (POLLHUP | POLLERR)) && !hungUp_)
            HangUp();
    }

    void OutputIdle() override
    {
        if (hungUp_)
            return;
        // An empty kernel buffer may still leave bytes in the UART; RTS
        // toggled by us waits for the drain, which waits for those too.
        if (DeviceOutQueue() == 0 && !(rtsRaised_ && hasLines_)) {
            TransmitterEmpty();
            return;
        }
        // The line is slower than the kernel's buffer: a helper waits for
        // the buffer to empty.
        drainRequested_ = true;
        if (!drainThread_.joinable())
            drainThread_ = std::thread(&TermiosDevice::DrainLoop, this);
        drainCond_.notify_all();
    }

    void Start()
    {
        if (hasLines_) {
            InstallWakeHandler();
            modemThread_ = std::thread(&TermiosDevice::ModemLoop, this);
        }
    }

    void Shutdown() override
    {
        {
            std::unique_lock lock(port->Mutex());
            stopping_ = true;
            drainCond_.notify_all();
        }
        if (drainThread_.joinable()) {
            // tcdrain ends only when the output is gone.
            std::unique_lock lock(port->Mutex());
            while (!drainEnded_) {
                tcflush(fd_, TCOFLUSH);
                drainCond_.wait_for(lock, std::chrono::milliseconds(50));
            }
            lock.unlock();
            drainThread_.join();
        }
        if (modemThread_.joinable()) {
            // A signal ends the line wait; it is repeated in case it arrives
            // just before the thread enters the wait.
            std::unique_lock lock(port->Mutex());
            while (!modemEnded_) {
                pthread_kill(modemThread_.native_handle(), WakeSignal());
                drainCond_.wait_for(lock, std::chrono::milliseconds(20));
            }
            lock.unlock();
            modemThread_.join();
        }
        ioctl(fd_, TIOCNXCL);
        close(fd_);
        fd_ = -1;
    }

private:
    // RS-485 transceivers send while RTS is high. Where the driver can switch
    // RTS itself it does so exactly at the first and after the last bit;
    // otherwise RTS is raised before bytes are written and dropped once the
    // kernel reports the transmitter empty.
    void ApplyRtsToggle(bool wanted)
    {
        if (!wanted) {
            if (toggle_ == zq::serial::RTS_TOGGLE_DRIVER) {
                serial_rs485 rs485 {};
                ioctl(fd_, TIOCSRS485, &rs485);
            }
            toggle_ = zq::serial::RTS_TOGGLE_OFF;
            rtsRaised_ = false;
            return;
        }
        if (toggle_ != zq::serial::RTS_TOGGLE_OFF)
            return;
        serial_rs485 rs485 {};
        rs485.flags = SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        if (ioctl(fd_, TIOCSRS485, &rs485) == 0) {
            toggle_ = zq::serial::RTS_TOGGLE_DRIVER;
            return;
        }
        // ENOTTY (no RS-485 in the driver, or a pseudo-terminal) or EINVAL.
        toggle_ = zq::serial::RTS_TOGGLE_BY_WRITE;
        rtsRaised_ = port->PendingOutputBytes() > 0;
        if (hasLines_)
            SetLine(TIOCM_RTS, rtsRaised_);
    }

    void SetToggledRts(bool on)
    {
        if (toggle_ != zq::serial::RTS_TOGGLE_BY_WRITE || rtsRaised_ == on)
            return;
        rtsRaised_ = on;
        if (hasLines_)
            SetLine(TIOCM_RTS, on);
    }

    bool SetLine(int bit, bool on)
    {
        if (ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit) != 0) {
            zq::kernel::SetLastErrorFromErrno(errno);
            return false;
        }
        return true;
    }

    void ReadAvailable()
    {
        uint8_t buffer[4096];
        for (;;) {
            const size_t room = std::min(port->InputRoom(), sizeof buffer);
            if (room == 0)
                break;
            const ssize_t n = read(fd_, buffer, room);
            if (n > 0) {
                port->DeliverInput(buffer, static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                break;
            HangUp(); // end of file, or the device is gone
            break;
        }
        CheckCounters();
    }

    void WriteAvailable()
    {
        if (!port->PendingOutput().empty())
            SetToggledRts(true);
        for (;;) {
            auto chunk = port->PendingOutput();
            if (chunk.empty())
                return;
            const ssize_t n = write(fd_, chunk.data(), chunk.size());
            if (n > 0) {
                port->ConsumeOutput(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EAGAIN)
                return;
            HangUp();
            return;
        }
    }

    // Port locked.
    void TransmitterEmpty()
    {
        SetToggledRts(false);
        port->ReportEvents(EV_TXEMPTY);
    }

    void HangUp()
    {
        hungUp_ = true;
        port->Fail(ERROR_GEN_FAILURE);
    }

    // Line errors, breaks and line changes counted by the driver since the
    // last look.
    void CheckCounters()
    {
        if (!hasCounters_)
            return;
        serial_icounter_struct now {};
        if (ioctl(fd_, TIOCGICOUNT, &now) != 0)
            return;
        DWORD errors = 0;
        if (now.frame != counters_.frame)
            errors |= CE_FRAME;
        if (now.overrun != counters_.overrun)
            errors |= CE_OVERRUN;
        if (now.parity != counters_.parity)
            errors |= CE_RXPARITY;
        if (now.brk != counters_.brk)
            errors |= CE_BREAK;
        if (now.buf_overrun != counters_.buf_overrun)
            errors |= CE_RXOVER;
        DWORD events = 0;
        if (now.cts != counters_.cts)
            events |= EV_CTS;
        if (now.dsr != counters_.dsr)
            events |= EV_DSR;
        if (now.dcd != counters_.dcd)
            events |= EV_RLSD;
        if (now.rng != counters_.rng)
            events |= EV_RING;
        counters_ = now;
        if (errors)
            port->ReportErrors(errors);
        port->ReportEvents(events);
    }

    void DrainLoop()
    {
        std::unique_lock lock(port->Mutex());
        while (!stopping_) {
            drainCond_.wait(lock, [&] { return drainRequested_ || stopping_; });
            if (stopping_)
                break;
            drainRequested_ = false;
            lock.unlock();
            tcdrain(fd_);
            lock.lock();
            if (stopping_ || port->Closing() || hungUp_)
                break;
            if (port->PendingOutputBytes() == 0) {
                if (DeviceOutQueue() == 0)
                    TransmitterEmpty();
                else
                    drainRequested_ = true;
            }
        }
        drainEnded_ = true;
        drainCond_.notify_all();
    }

    void ModemLoop()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, WakeSignal());
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        int last = 0;
        ioctl(fd_, TIOCMGET, &last);
        for (;;) {
            {
                std::lock_guard lock(port->Mutex());
                if (stopping_)
                    break;
            }
            const int rc = ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG);
            if (rc != 0 && errno != EINTR)
                break; // the driver has no line wait: line changes go unreported
            std::lock_guard lock(port->Mutex());
            if (stopping_ || port->Closing())
                break;
            if (hasCounters_) {
                CheckCounters();
                continue;
            }
            int bits = 0;
            if (ioctl(fd_, TIOCMGET, &bits) != 0)
                continue;
            const DWORD changed = LinesFromTiocm(bits ^ last);
            const bool ringOn = (bits & TIOCM_RNG) && !(last & TIOCM_RNG);
            last = bits;
            port->ReportEvents(((changed & MS_CTS_ON) ? EV_CTS : 0) | ((changed & MS_DSR_ON) ? EV_DSR : 0)
                | ((changed & MS_RLSD_ON) ? EV_RLSD : 0) | (ringOn ? EV_RING : 0));
        }
        std::lock_guard lock(port->Mutex());
        modemEnded_ = true;
        drainCond_.notify_all();
    }

    int fd_;
    bool hasLines_ = false;
    bool hasCounters_ = false;
    bool hungUp_ = false;
    DWORD toggle_ = zq::serial::RTS_TOGGLE_OFF;
    bool rtsRaised_ = false; // as the toggle by write set it
    serial_icounter_struct counters_ {};
    // Helpers; their flags are guarded by the port's mutex.
    std::condition_variable drainCond_;
    std::thread drainThread_;
    std::thread modemThread_;
    bool stopping_ = false;
    bool drainRequested_ = false;
    bool drainEnded_ = false;
    bool modemEnded_ = false;
};

// Raw bytes both ways; the line settings the device has are kept.
bool MakeRaw(int fd)
{
    termios t {};
    if (tcgetattr(fd, &t) != 0)
        return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

HANDLE zq::serial::OpenCommPort(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        zq::kernel::SetLastErrorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    auto fail = [fd](DWORD code) {
        close(fd);
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    };
    if (!isatty(fd))
        return fail(ERROR_NOT_SUPPORTED);
    // A port has one user at a time, as a COM port has.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? ERROR_ACCESS_DENIED : zq::kernel::Win32ErrorFromErrno(errno));
    ioctl(fd, TIOCEXCL);
    if (!MakeRaw(fd)) {
        const DWORD code = zq::kernel::Win32ErrorFromErrno(errno);
        ioctl(fd, TIOCNXCL);
        return fail(code);
    }
    auto device = std::make_unique<TermiosDevice>(fd);
    TermiosDevice* raw = device.get();
    auto port = std::make_shared<CommPort>(std::move(device), std::make_shared<std::mutex>());
    const HANDLE h = RegisterCommPort(port);
    raw->Start();
    return h;
}
