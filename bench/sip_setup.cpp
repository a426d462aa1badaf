// Call set-up time of a SIP line: from lineMakeCall to the connected state,
// against sipp's own UAC placing the same calls to the same sipp UAS in the
// same run (its time from INVITE to 200 OK).
//
//   sip_setup [calls, default 20]
#include "registry.h"
#include "sip_bench_support.h"
#include "sipaccounts.h"
#include "tapi.h"
#include "zqtapi.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

using zq::bench::FreeUdpPort;
using zq::bench::Spawn;

namespace {

using Clock = std::chrono::steady_clock;

std::mutex gMutex;
std::vector<std::pair<DWORD, DWORD>> gStates; // LINE_CALLSTATE p1, and LINE_REPLY marks
std::vector<Clock::time_point> gConnected;

void Callback(DWORD, DWORD msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR, DWORD_PTR)
{
    std::lock_guard lock(gMutex);
    if (msg == LINE_CALLSTATE) {
        gStates.push_back({ DWORD(p1), 0 });
        if (p1 == LINECALLSTATE_CONNECTED)
            gConnected.push_back(Clock::now());
    }
}

bool WaitFor(const std::function<bool()>& pred, int ms = 30000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int calls = argc > 1 ? std::atoi(argv[1]) : 20;
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    setenv("ZQ_REGISTRY_FILE", (d + "/registry.json").c_str(), 1);
    const int uasPort = FreeUdpPort();
    const pid_t uas = Spawn({ "sipp", "-sf", std::string(ZQ_SIP_SCENARIOS) + "/uas_echo.xml", "-i",
                                "127.0.0.1", "-p", std::to_string(uasPort), "-mi", "127.0.0.1", "-mp",
                                std::to_string(FreeUdpPort() & ~1), "-nostdin" },
        d + "/uas.log");

    // sipp's UAC: INVITE to 200 OK, as its round-trip log records it.
    const pid_t uac = Spawn({ "sipp", "127.0.0.1:" + std::to_string(uasPort), "-sn", "uac", "-i", "127.0.0.1",
                                "-p", std::to_string(FreeUdpPort()), "-m", std::to_string(calls), "-l", "1",
                                "-d", "10", "-trace_rtt", "-rtt_freq", "1", "-nostdin" },
        d + "/uac.log");
    int st = 0;
    waitpid(uac, &st, 0);
    std::vector<double> sippMs;
    {
        // The file is named after the scenario and sipp's process.
        std::ifstream in(d + "/uac_" + std::to_string(uac) + "_rtt.csv");
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> f;
            std::stringstream s(line);
            for (std::string x; std::getline(s, x, ';');)
                f.push_back(x);
            if (f.size() >= 3 && f[0] != "Date_ms")
                sippMs.push_back(std::atof(f[2].c_str()));
        }
    }

    zq::sip::SipAccountSettings account;
    account.name = "Bench SIP";
    account.address = "sip:bench@127.0.0.1:" + std::to_string(uasPort);
    account.localAddress = "127.0.0.1";
    std::string error;
    zq::sip::SaveSipAccount(account, &error);
    HKEY key = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqcomm\\Telephony\\SIP", 0, nullptr,
        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr);
    const DWORD one = 1;
    RegSetValueEx(key, "Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);

    HLINEAPP lineApp = 0;
    DWORD devices = 0;
    std::vector<double> oursMs;
    if (lineInitialize(&lineApp, nullptr, &Callback, nullptr, &devices) == 0 && devices > 0) {
        DWORD version = 0;
        LINEEXTENSIONID ext {};
        lineNegotiateAPIVersion(lineApp, 0, 0x00010000, 0x00090000, &version, &ext);
        HLINE line = 0;
        lineOpen(lineApp, 0, &line, version, 0, 0, LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_INTERACTIVEVOICE,
            nullptr);
        for (int i = 0; i < calls; ++i) {
            size_t before;
            {
                std::lock_guard lock(gMutex);
                before = gConnected.size();
                gStates.clear();
            }
            LINECALLPARAMS params {};
            params.dwTotalSize = sizeof params;
            params.dwBearerMode = LINEBEARERMODE_VOICE;
            params.dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
            HCALL call = 0;
            const auto start = Clock::now();
            if (lineMakeCall(line, &call, "4711", 0, &params) <= 0)
                break;
            if (!WaitFor([&] {
                    std::lock_guard lock(gMutex);
                    return gConnected.size() > before;
                }))
                break;
            {
                std::lock_guard lock(gMutex);
                oursMs.push_back(
                    std::chrono::duration<double, std::milli>(gConnected.back() - start).count());
            }
            lineDrop(call, nullptr, 0);
            WaitFor([&] {
                std::lock_guard lock(gMutex);
                for (auto& s : gStates)
                    if (s.first == LINECALLSTATE_IDLE)
                        return true;
                return false;
            });
            lineDeallocateCall(call);
        }
        lineShutdown(&lineApp);
    }
    kill(uas, SIGTERM);
    waitpid(uas, &st, 0);
    std::printf("SIP call set-up, %d calls to a sipp UAS on loopback (median)\n", calls);
    std::printf(
        "  our line (lineMakeCall to CONNECTED): %.2f ms over %zu calls\n", Median(oursMs), oursMs.size());
    std::printf(
        "  sipp's UAC (INVITE to 200 OK):        %.2f ms over %zu calls\n", Median(sippMs), sippMs.size());
    if (!sippMs.empty() && Median(sippMs) > 0)
        std::printf("  ratio: %.1f\n", Median(oursMs) / Median(sippMs));
    return 0;
}
