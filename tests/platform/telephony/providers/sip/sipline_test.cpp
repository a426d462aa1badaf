// SIP lines against sipp on loopback, through the telephony API as programs
// use it.
#include "childprocess.h"
#include "debugout.h"
#include "eventwait.h"
#include "mmsystem.h"
#include "providerswitch.h"
#include "registry.h"
#include "sipaccounts.h"
#include "sipp.h"
#include "tapi.h"
#include "testaudio.h"
#include "waveheaderflags.h"
#include "zqtapi.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace zqsiptest;

namespace {

struct Msg {
    DWORD device, msg;
    DWORD_PTR instance, p1, p2, p3;
};

std::mutex gMutex;
std::vector<Msg> gMessages;
std::vector<std::string> gLog;

void Callback(DWORD dev, DWORD msg, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3)
{
    std::lock_guard lock(gMutex);
    gMessages.push_back({ dev, msg, inst, p1, p2, p3 });
}

std::vector<Msg> Messages()
{
    std::lock_guard lock(gMutex);
    return gMessages;
}

bool HasLog(const std::string& part)
{
    std::lock_guard lock(gMutex);
    for (const auto& l : gLog)
        if (l.find(part) != std::string::npos)
            return true;
    return false;
}

constexpr DWORD_PTR kInst = 0x5151;

// Records a line's wave-in into a row of buffers from the start.
class Recorder {
public:
    bool Open(UINT device, size_t seconds)
    {
        const WAVEFORMATEX f = zqtest::Pcm(8000, 1, 16);
        if (waveInOpen(&in_, device, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
            return false;
        buffers_.assign(seconds * 5, std::vector<char>(3200));
        headers_.resize(buffers_.size());
        for (size_t i = 0; i < buffers_.size(); ++i) {
            headers_[i].lpData = buffers_[i].data();
            headers_[i].dwBufferLength = 3200;
            waveInPrepareHeader(in_, &headers_[i], sizeof(WAVEHDR));
            waveInAddBuffer(in_, &headers_[i], sizeof(WAVEHDR));
        }
        return waveInStart(in_) == MMSYSERR_NOERROR;
    }
    ~Recorder()
    {
        if (!in_)
            return;
        waveInReset(in_);
        for (auto& h : headers_)
            waveInUnprepareHeader(in_, &h, sizeof(WAVEHDR));
        waveInClose(in_);
    }
    std::vector<int16_t> Samples() const
    {
        std::vector<int16_t> s;
        for (const auto& h : headers_) {
            if (!(zq::wave::HeaderFlags(h) & WHDR_DONE))
                break;
            const auto* p = reinterpret_cast<const int16_t*>(h.lpData);
            s.insert(s.end(), p, p + h.dwBytesRecorded / 2);
        }
        return s;
    }

private:
    HWAVEIN in_ = nullptr;
    std::vector<std::vector<char>> buffers_;
    std::vector<WAVEHDR> headers_;
};

// How many 20 ms stretches of the samples carry a tone near hz, judged by
// zero crossings and level.
int ToneFrames(const std::vector<int16_t>& s, int hz)
{
    int frames = 0;
    for (size_t f = 0; f + 160 <= s.size(); f += 160) {
        int crossings = 0;
        double power = 0;
        for (size_t i = f; i < f + 160; ++i) {
            power += double(s[i]) * s[i];
            if (i > f && (s[i - 1] < 0) != (s[i] < 0))
                ++crossings;
        }
        const double expected = 2.0 * hz * 0.02;
        if (power / 160 > 1000.0 * 1000 && std::abs(crossings - expected) <= expected * 0.15 + 1)
            ++frames;
    }
    return frames;
}

class SipLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        qputenv("ZQ_REGISTRY_FILE", dir_.filePath("registry.json").toLocal8Bit());
        {
            std::lock_guard lock(gMutex);
            gMessages.clear();
            gLog.clear();
        }
        previousHook_ = zq::kernel::SetDebugOutputHook([](const std::string& line) {
            std::lock_guard lock(gMutex);
            gLog.push_back(line);
        });
        ASSERT_TRUE(zqtest::EnableProvider("SIP"));
        farPort_ = FreeUdpPort();
        account_.name = "Loopback SIP";
        account_.address = "sip:alice@127.0.0.1:" + std::to_string(farPort_);
        account_.displayName = "Alice";
        account_.localAddress = "127.0.0.1";
        account_.localPort = FreeUdpPort();
        account_.ringIntervalMs = 300;
    }
    void TearDown() override
    {
        if (app_)
            lineShutdown(&app_);
        zqtest::WaitUntil([] { return false; }, 0);
        sipp_.Stop();
        zq::kernel::SetDebugOutputHook(previousHook_);
        qunsetenv("ZQ_REGISTRY_FILE");
    }
    void SaveAccount(const std::string& password = {})
    {
        std::string error;
        ASSERT_TRUE(zq::sip::SaveSipAccount(account_, &error)) << error;
        if (!password.empty()) {
            ASSERT_TRUE(zq::sip::SetSipPassword(account_.name, password, &error)) << error;
        }
    }
    // Registers, finds the account's line and opens it as owner.
    void OpenLine()
    {
        DWORD devices = 0;
        ASSERT_EQ(lineInitialize(&app_, nullptr, &Callback, nullptr, &devices), 0);
        for (DWORD d = 0; d < devices && device_ == DWORD(-1); ++d) {
            LINEEXTENSIONID ext {};
            DWORD version = 0;
            if (lineNegotiateAPIVersion(app_, d, 0x00010000, 0x00090000, &version, &ext) != 0)
                continue;
            std::vector<char> caps(4096);
            auto* c = reinterpret_cast<LINEDEVCAPS*>(caps.data());
            c->dwTotalSize = DWORD(caps.size());
            if (lineGetDevCaps(app_, d, version, 0, c) == 0 && c->dwLineNameSize
                && std::string(caps.data() + c->dwLineNameOffset) == account_.name) {
                device_ = d;
                version_ = version;
            }
        }
        ASSERT_NE(device_, DWORD(-1)) << "no line for the account";
        ASSERT_EQ(lineOpen(app_, device_, &line_, version_, 0, kInst, LINECALLPRIVILEGE_OWNER,
                      LINEMEDIAMODE_INTERACTIVEVOICE, nullptr),
            0);
    }
    UINT WaveId(const char* cls)
    {
        std::vector<char> buf(256);
        auto* v = reinterpret_cast<VARSTRING*>(buf.data());
        v->dwTotalSize = DWORD(buf.size());
        EXPECT_EQ(lineGetID(line_, 0, 0, LINECALLSELECT_LINE, v, cls), 0);
        DWORD id = 0;
        std::memcpy(&id, buf.data() + v->dwStringOffset, 4);
        return id;
    }
    LONG Dial(const std::string& number, HCALL* call)
    {
        LINECALLPARAMS params {};
        params.dwTotalSize = sizeof params;
        params.dwBearerMode = LINEBEARERMODE_VOICE;
        params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
        return lineMakeCall(line_, call, number.c_str(), 0, &params);
    }
    bool WaitReply(LONG request, LONG* result)
    {
        return zqtest::WaitUntil([&] {
            for (const Msg& m : Messages())
                if (m.msg == LINE_REPLY && LONG(m.p1) == request) {
                    *result = LONG(DWORD(m.p2));
                    return true;
                }
            return false;
        });
    }
    // The n-th (from 0) call state message with this state.
    const Msg* FindState(DWORD state, int nth = 0)
    {
        static Msg found;
        for (const Msg& m : Messages())
            if (m.msg == LINE_CALLSTATE && m.p1 == state && nth-- == 0) {
                found = m;
                return &found;
            }
        return nullptr;
    }
    bool WaitState(DWORD state, int nth = 0)
    {
        return zqtest::WaitUntil([&] { return FindState(state, nth) != nullptr; });
    }
    std::vector<DWORD> States()
    {
        std::vector<DWORD> s;
        for (const Msg& m : Messages())
            if (m.msg == LINE_CALLSTATE)
                s.push_back(DWORD(m.p1));
        return s;
    }
    std::string Dir() const { return dir_.path().toStdString(); }

    QTemporaryDir dir_;
    zq::kernel::DebugOutputHook previousHook_;
    zq::sip::SipAccountSettings account_;
    int farPort_ = 0;
    Sipp sipp_;
    HLINEAPP app_ = 0;
    DWORD device_ = DWORD(-1), version_ = 0;
    HLINE line_ = 0;
};

std::vector<std::string> UasArgs(int port, int mediaPort, const std::string& scenario, int calls)
{
    return { "-sf", scenario, "-i", "127.0.0.1", "-p", std::to_string(port), "-mi", "127.0.0.1", "-mp",
        std::to_string(mediaPort), "-m", std::to_string(calls) };
}

} // namespace

TEST_F(SipLineTest, CallsAFarEndThatAnswersAndHearsWhatItPlays)
{
    SaveAccount();
    auto args = UasArgs(farPort_, FreeMediaPort(), ScenarioPath("uas_echo.xml"), 1);
    args.push_back("-rtp_echo");
    ASSERT_TRUE(sipp_.Start(args, Dir()));
    ASSERT_TRUE(WaitListening(farPort_)) << sipp_.Log();
    OpenLine();
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(WaveId("wave/in"), 20));

    HCALL call = 0;
    const LONG request = Dial("4711", &call);
    ASSERT_GT(request, 0);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(request, &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED)) << sipp_.Log();
    EXPECT_TRUE(FindState(LINECALLSTATE_RINGBACK));

    // A second of 600 Hz played into the call comes back from the far end.
    HWAVEOUT out = nullptr;
    const WAVEFORMATEX f = zqtest::Pcm(8000, 1, 16);
    ASSERT_EQ(waveOutOpen(&out, WaveId("wave/out"), &f, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    std::vector<int16_t> tone(8000);
    for (size_t i = 0; i < tone.size(); ++i)
        tone[i] = int16_t(10000 * std::sin(2 * M_PI * 600 * double(i) / 8000));
    WAVEHDR play {};
    play.lpData = reinterpret_cast<char*>(tone.data());
    play.dwBufferLength = DWORD(tone.size() * 2);
    ASSERT_EQ(waveOutPrepareHeader(out, &play, sizeof play), MMSYSERR_NOERROR);
    ASSERT_EQ(waveOutWrite(out, &play, sizeof play), MMSYSERR_NOERROR);
    // All of it, bar the packets at its edges.
    EXPECT_TRUE(zqtest::WaitUntil([&] { return ToneFrames(recorder.Samples(), 600) >= 45; }));
    waveOutReset(out);
    waveOutUnprepareHeader(out, &play, sizeof play);
    waveOutClose(out);

    // Hanging up sends BYE; the far end's scenario then ends well.
    const LONG drop = lineDrop(call, nullptr, 0);
    ASSERT_GT(drop, 0);
    ASSERT_TRUE(WaitReply(drop, &result));
    EXPECT_TRUE(WaitState(LINECALLSTATE_IDLE));
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
    lineDeallocateCall(call);
}

TEST_F(SipLineTest, BusyFarEndIsBusyEachTime)
{
    SaveAccount();
    ASSERT_TRUE(sipp_.Start(UasArgs(farPort_, FreeMediaPort(), ScenarioPath("uas_busy.xml"), 2), Dir()));
    ASSERT_TRUE(WaitListening(farPort_)) << sipp_.Log();
    OpenLine();
    for (int attempt = 0; attempt < 2; ++attempt) {
        HCALL call = 0;
        const LONG request = Dial("4711", &call);
        ASSERT_GT(request, 0);
        LONG result = -1;
        ASSERT_TRUE(WaitReply(request, &result));
        EXPECT_EQ(result, 0);
        ASSERT_TRUE(WaitState(LINECALLSTATE_DISCONNECTED, attempt)) << sipp_.Log();
        EXPECT_EQ(FindState(LINECALLSTATE_DISCONNECTED, attempt)->p2, LINEDISCONNECTMODE_BUSY);
        ASSERT_TRUE(FindState(LINECALLSTATE_BUSY, attempt));
        lineDrop(call, nullptr, 0);
        ASSERT_TRUE(WaitState(LINECALLSTATE_IDLE, attempt));
        lineDeallocateCall(call);
    }
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
}

TEST_F(SipLineTest, UnansweredCallTimesOutAndIsCancelled)
{
    SaveAccount();
    ASSERT_TRUE(sipp_.Start(UasArgs(farPort_, FreeMediaPort(), ScenarioPath("uas_noanswer.xml"), 1), Dir()));
    ASSERT_TRUE(WaitListening(farPort_)) << sipp_.Log();
    OpenLine();
    // A call set-up time of two seconds, in the line's configuration block.
    std::vector<char> buf(512);
    auto* v = reinterpret_cast<VARSTRING*>(buf.data());
    v->dwTotalSize = DWORD(buf.size());
    ASSERT_EQ(lineGetDevConfig(device_, v, "comm/datamodem"), 0);
    std::vector<char> config(
        buf.data() + v->dwStringOffset, buf.data() + v->dwStringOffset + v->dwStringSize);
    const DWORD seconds = 2;
    std::memcpy(config.data() + 76, &seconds, 4);
    ASSERT_EQ(lineSetDevConfig(device_, config.data(), DWORD(config.size()), "comm/datamodem"), 0);

    HCALL call = 0;
    const LONG request = Dial("4711", &call);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(request, &result));
    ASSERT_TRUE(WaitState(LINECALLSTATE_RINGBACK)) << sipp_.Log();
    ASSERT_TRUE(WaitState(LINECALLSTATE_DISCONNECTED)) << sipp_.Log();
    EXPECT_EQ(FindState(LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NOANSWER);
    // The far end saw the CANCEL (its scenario needs it to end well).
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
    lineDrop(call, nullptr, 0);
    EXPECT_TRUE(WaitState(LINECALLSTATE_IDLE));
    lineDeallocateCall(call);
}

TEST_F(SipLineTest, NumbersThatAreNoAddressFailBeforeAnythingIsSent)
{
    SaveAccount();
    OpenLine();
    HCALL call = 0;
    EXPECT_EQ(Dial("bob at example", &call), LINEERR_INVALADDRESS);
    EXPECT_TRUE(HasLog("neither a telephone number nor a SIP address"));
}

TEST_F(SipLineTest, IncomingCallShowsTheCallerAndIsRecordedWithItsDigits)
{
    SaveAccount();
    const std::string pcap = Dir() + "/caller.pcap";
    WriteRtpCapture(pcap, 1000, 1500, "12#");
    const std::string scenario
        = WriteScenario("uac_caller.xml", Dir(), { { "@PCAP@", pcap }, { "@PAUSE@", "4000" } });
    OpenLine();
    Recorder recorder;
    ASSERT_TRUE(recorder.Open(WaveId("wave/in"), 30));
    ASSERT_TRUE(sipp_.Start(
        { "127.0.0.1:" + std::to_string(account_.localPort), "-sf", scenario, "-i", "127.0.0.1", "-p",
            std::to_string(farPort_), "-mi", "127.0.0.1", "-mp", std::to_string(FreeMediaPort()), "-m", "1" },
        Dir()));

    ASSERT_TRUE(WaitState(LINECALLSTATE_OFFERING)) << sipp_.Log();
    const HCALL call = HCALL(FindState(LINECALLSTATE_OFFERING)->device);
    std::vector<char> buf(2048);
    auto* info = reinterpret_cast<LINECALLINFO*>(buf.data());
    info->dwTotalSize = DWORD(buf.size());
    ASSERT_EQ(lineGetCallInfo(call, info), 0);
    EXPECT_EQ(std::string(buf.data() + info->dwCallerIDOffset), "5551234");
    EXPECT_EQ(std::string(buf.data() + info->dwCallerIDNameOffset), "Bob Caller");

    // Answer after two rings, as a component waiting for them does.
    ASSERT_TRUE(zqtest::WaitUntil([&] {
        int rings = 0;
        for (const Msg& m : Messages())
            rings += m.msg == LINE_LINEDEVSTATE && m.p1 == LINEDEVSTATE_RINGING;
        return rings >= 2;
    }));
    ASSERT_EQ(lineMonitorDigits(call, LINEDIGITMODE_DTMF), 0);
    const LONG answer = lineAnswer(call, nullptr, 0);
    LONG result = -1;
    ASSERT_TRUE(WaitReply(answer, &result));
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(WaitState(LINECALLSTATE_CONNECTED)) << sipp_.Log();

    std::string digits;
    ASSERT_TRUE(zqtest::WaitUntil([&] {
        digits.clear();
        for (const Msg& m : Messages())
            if (m.msg == LINE_MONITORDIGITS)
                digits += char(m.p1);
        return digits.size() >= 3;
    })) << digits;
    EXPECT_EQ(digits, "12#");
    // The caller hangs up: the call ends, and the tone was recorded whole.
    ASSERT_TRUE(WaitState(LINECALLSTATE_DISCONNECTED)) << sipp_.Log();
    EXPECT_EQ(FindState(LINECALLSTATE_DISCONNECTED)->p2, LINEDISCONNECTMODE_NORMAL);
    EXPECT_GE(ToneFrames(recorder.Samples(), 1000), 70);
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
    lineDeallocateCall(call);
}

TEST_F(SipLineTest, RegistersWithDigestAuthentication)
{
    account_.registrar = "sip:127.0.0.1:" + std::to_string(farPort_);
    SaveAccount("correct horse");
    ASSERT_TRUE(sipp_.Start(
        { "-sf", ScenarioPath("registrar_401.xml"), "-i", "127.0.0.1", "-p", std::to_string(farPort_), "-m",
            "1", "-set", "user", "alice", "-set", "password", "correct horse" },
        Dir()));
    ASSERT_TRUE(WaitListening(farPort_)) << sipp_.Log();
    OpenLine();
    // The registrar's scenario ends only when the second REGISTER carried the
    // right digest.
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
    for (const Msg& m : Messages())
        EXPECT_FALSE(m.msg == LINE_LINEDEVSTATE && m.p1 == LINEDEVSTATE_OUTOFSERVICE);
}

TEST_F(SipLineTest, WrongPasswordTakesTheLineOutOfService)
{
    account_.registrar = "sip:127.0.0.1:" + std::to_string(farPort_);
    SaveAccount("battery staple");
    ASSERT_TRUE(sipp_.Start(
        { "-sf", ScenarioPath("registrar_401.xml"), "-i", "127.0.0.1", "-p", std::to_string(farPort_), "-m",
            "1", "-set", "user", "alice", "-set", "password", "correct horse" },
        Dir()));
    ASSERT_TRUE(WaitListening(farPort_)) << sipp_.Log();
    OpenLine();
    EXPECT_TRUE(zqtest::WaitUntil([&] {
        for (const Msg& m : Messages())
            if (m.msg == LINE_LINEDEVSTATE && m.p1 == LINEDEVSTATE_OUTOFSERVICE)
                return true;
        return false;
    })) << sipp_.Log();
    EXPECT_TRUE(HasLog("registration refused (403 Forbidden), line out of service"));
    EXPECT_FALSE(HasLog("battery"));
    HCALL call = 0;
    EXPECT_EQ(Dial("4711", &call), LINEERR_RESOURCEUNAVAIL);
}

// The program itself, headless, on a SIP line: as on a simulated one.
namespace {

struct DemoRun {
    int exitCode = -1;
    QString out, err;
};

std::unique_ptr<zqtest::ChildProcess> StartDemo(const QStringList& args)
{
    auto p = std::make_unique<zqtest::ChildProcess>();
    p->Start(QCoreApplication::applicationDirPath() + "/speechdemo", args);
    return p;
}

// (This process's events are served meanwhile.)
DemoRun Finish(std::unique_ptr<zqtest::ChildProcess> p)
{
    DemoRun r;
    if (zqtest::WaitUntil([&] { return !p->Running(); }, 120000))
        r.exitCode = p->ExitCode();
    else
        p->Kill();
    r.out = p->Error() + QString::fromLocal8Bit(p->Out());
    r.err = QString::fromLocal8Bit(p->Err());
    return r;
}

} // namespace

TEST_F(SipLineTest, ProgramCallsOutOnTheLineAndSpeaks)
{
    SaveAccount();
    auto args = UasArgs(farPort_, FreeMediaPort(), ScenarioPath("uas_echo.xml"), 1);
    args.push_back("-rtp_echo");
    ASSERT_TRUE(sipp_.Start(args, Dir()));
    ASSERT_TRUE(WaitListening(farPort_)) << sipp_.Log();
    const DemoRun r = Finish(StartDemo({ "--device", QString::fromStdString(account_.name), "--call", "4711",
        "--text", "Hello over the internet.", "--timeout", "60" }));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Connection established")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Speaking is finished")) << r.out.toStdString();
    // The program hung up: the far end got its BYE.
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
}

TEST_F(SipLineTest, ProgramWaitsAnswersAndRecordsACaller)
{
    SaveAccount();
    const std::string pcap = Dir() + "/caller.pcap";
    WriteRtpCapture(pcap, 1000, 1500, "");
    const std::string scenario
        = WriteScenario("uac_caller.xml", Dir(), { { "@PCAP@", pcap }, { "@PAUSE@", "3000" } });
    const QString wavPath = QString::fromStdString(Dir() + "/heard.wav");
    std::unique_ptr<zqtest::ChildProcess> waiting = StartDemo({ "--device",
        QString::fromStdString(account_.name), "--wait", "--record", wavPath, "--timeout", "60" });
    // The line listens once the program has opened it.
    ASSERT_GT(waiting->Pid(), 0) << waiting->Error().toStdString();
    ASSERT_TRUE(WaitListening(account_.localPort));
    ASSERT_TRUE(sipp_.Start(
        { "127.0.0.1:" + std::to_string(account_.localPort), "-sf", scenario, "-i", "127.0.0.1", "-p",
            std::to_string(farPort_), "-mi", "127.0.0.1", "-mp", std::to_string(FreeMediaPort()), "-m", "1" },
        Dir()));
    const DemoRun r = Finish(std::move(waiting));
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Connection established")) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains("Line disconnected")) << r.out.toStdString();
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
    QFile wav(wavPath);
    ASSERT_TRUE(wav.open(QIODevice::ReadOnly));
    const QByteArray bytes = wav.readAll();
    ASSERT_GT(bytes.size(), 44);
    std::vector<int16_t> samples(size_t(bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.constData() + 44, samples.size() * 2);
    EXPECT_GE(ToneFrames(samples, 1000), 60);
}

// The line's configuration dialog, as the window's "..." button opens it.
namespace {

QDialog* ActiveDialog()
{
    return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

void Type(QDialog* dlg, const char* field, const std::string& text)
{
    auto* e = dlg->findChild<QLineEdit*>(field);
    ASSERT_TRUE(e) << field;
    e->setText(QString::fromStdString(text));
}

// Presses OK; the refusal the dialog shows, or empty when it closed.
std::string PressOk(QDialog* dlg)
{
    dlg->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    if (dlg->result() == QDialog::Accepted)
        return {};
    const auto* problem = dlg->findChild<QLabel*>("problem");
    if (!problem)
        return "(not the account dialog)";
    return problem->isHidden() ? std::string("(no message)") : problem->text().toStdString();
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

} // namespace

TEST_F(SipLineTest, TheConfigDialogEditsTheAccountAndTheLineRegistersWithIt)
{
    SaveAccount("old secret");
    OpenLine();
    const int registrarPort = FreeUdpPort();
    QTimer::singleShot(0, [&] {
        QDialog* dlg = ActiveDialog();
        ASSERT_TRUE(dlg);
        EXPECT_EQ(dlg->objectName(), "sipAccountDialog");
        auto* password = dlg->findChild<QLineEdit*>("password");
        EXPECT_EQ(password->echoMode(), QLineEdit::Password);
        EXPECT_EQ(dlg->findChild<QLineEdit*>("address")->text().toStdString(), account_.address);
        Type(dlg, "displayName", "Alice Example");
        Type(dlg, "registrar", "sip:127.0.0.1:" + std::to_string(registrarPort));
        Type(dlg, "authUser", "alice");
        Type(dlg, "password", "correct horse");
        Type(dlg, "rtpPortMin", "30000");
        Type(dlg, "rtpPortMax", "30100");
        EXPECT_EQ(dlg->findChild<QComboBox*>("transport")->currentText(), "UDP");
        auto* codecs = dlg->findChild<QListWidget*>("codecs");
        codecs->setCurrentRow(1);
        dlg->findChild<QPushButton*>("codecUp")->click();
        EXPECT_EQ(PressOk(dlg), "");
    });
    ASSERT_EQ(lineConfigDialog(device_, nullptr, "comm/datamodem"), 0);

    zq::sip::SipAccountSettings stored;
    ASSERT_TRUE(zq::sip::LoadSipAccount(account_.name, &stored));
    EXPECT_EQ(stored.displayName, "Alice Example");
    EXPECT_EQ(stored.registrar, "sip:127.0.0.1:" + std::to_string(registrarPort));
    EXPECT_EQ(stored.authUser, "alice");
    EXPECT_EQ(stored.transport, "udp");
    EXPECT_EQ(stored.rtpPortMin, 30000);
    EXPECT_EQ(stored.rtpPortMax, 30100);
    EXPECT_EQ(stored.codecs, "PCMA,PCMU");
    EXPECT_EQ(stored.localPort, account_.localPort) << "untouched fields stay";
    EXPECT_EQ(zq::sip::SipPassword(account_.name), "correct horse");
    struct stat st { };
    ASSERT_EQ(stat(zq::sip::SipSecretsFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(
        FileText(dir_.filePath("registry.json").toStdString()).find("correct horse"), std::string::npos);

    // The change takes effect once no program uses the lines: the line then
    // registers with the new registrar and password.
    lineShutdown(&app_);
    app_ = 0;
    device_ = DWORD(-1);
    ASSERT_TRUE(sipp_.Start(
        { "-sf", ScenarioPath("registrar_401.xml"), "-i", "127.0.0.1", "-p", std::to_string(registrarPort),
            "-m", "1", "-set", "user", "alice", "-set", "password", "correct horse" },
        Dir()));
    ASSERT_TRUE(WaitListening(registrarPort)) << sipp_.Log();
    OpenLine();
    EXPECT_EQ(sipp_.Wait(), 0) << sipp_.Log();
    EXPECT_FALSE(HasLog("correct horse"));
    EXPECT_FALSE(HasLog("old secret"));
}

TEST_F(SipLineTest, TheConfigDialogRefusesWrongInputAndCancelChangesNothing)
{
    SaveAccount("old secret");
    OpenLine();
    std::vector<std::string> refusals;
    QTimer::singleShot(0, [&] {
        QDialog* dlg = ActiveDialog();
        ASSERT_TRUE(dlg);
        Type(dlg, "address", "alice@127.0.0.1");
        refusals.push_back(PressOk(dlg));
        Type(dlg, "address", "sip:bob@127.0.0.1");
        Type(dlg, "localPort", "70000");
        refusals.push_back(PressOk(dlg));
        Type(dlg, "localPort", "");
        Type(dlg, "rtpPortMin", "20000");
        refusals.push_back(PressOk(dlg));
        Type(dlg, "rtpPortMax", "10000");
        refusals.push_back(PressOk(dlg));
        Type(dlg, "rtpPortMin", "");
        Type(dlg, "rtpPortMax", "");
        Type(dlg, "registrar", "127.0.0.1:5060");
        refusals.push_back(PressOk(dlg));
        Type(dlg, "registrar", "");
        auto* codecs = dlg->findChild<QListWidget*>("codecs");
        for (int i = 0; i < codecs->count(); ++i)
            codecs->item(i)->setCheckState(Qt::Unchecked);
        refusals.push_back(PressOk(dlg));
        Type(dlg, "password", "new secret");
        dlg->reject();
    });
    ASSERT_EQ(lineConfigDialog(device_, nullptr, "comm/datamodem"), 0);
    ASSERT_EQ(refusals.size(), 6u);
    EXPECT_EQ(refusals[0], "The address \"alice@127.0.0.1\" is not of the form sip:user@domain.");
    EXPECT_EQ(refusals[1], "The local SIP port must be a number from 0 to 65535 (0 or empty: any).");
    EXPECT_EQ(refusals[2], "Give both ends of the audio port range, or neither.");
    EXPECT_NE(refusals[3].find("the audio range from low to high"), std::string::npos) << refusals[3];
    EXPECT_EQ(refusals[4], "The registrar \"127.0.0.1:5060\" is not of the form sip:host[:port].");
    EXPECT_EQ(refusals[5], "The codecs must name PCMU and/or PCMA.");

    zq::sip::SipAccountSettings stored;
    ASSERT_TRUE(zq::sip::LoadSipAccount(account_.name, &stored));
    EXPECT_EQ(stored, account_);
    EXPECT_EQ(zq::sip::SipPassword(account_.name), "old secret");
    EXPECT_FALSE(HasLog("secret"));
}
