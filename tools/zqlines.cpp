// zqlines: lists the telephony line devices through the binding, with the
// names, providers, port names, wave identifiers and capabilities programs
// see; with --watch it goes on showing lines that appear and go; with --call
// it places a call between two of them (zqlines_call.cpp); --sip-* and
// --modem-* set up the SIP accounts and modems that become lines.
#include "zqtapi.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Lines that come and go while the tool watches.
void ShowDeviceChanges(DWORD, DWORD msg, DWORD_PTR, DWORD_PTR p1, DWORD_PTR, DWORD_PTR)
{
    if (msg == LINE_CREATE)
        std::printf("LINE_CREATE: device %u added\n", unsigned(p1));
    else if (msg == LINE_REMOVE)
        std::printf("LINE_REMOVE: device %u removed\n", unsigned(p1));
    std::fflush(stdout);
}

// The provider a line comes from, as its capabilities name it.
std::string ProviderOf(HLINEAPP app, DWORD id, DWORD version, LINEDEVCAPS* fixed)
{
    std::vector<char> block(std::max<DWORD>(fixed->dwNeededSize, sizeof(LINEDEVCAPS)));
    auto* caps = reinterpret_cast<LINEDEVCAPS*>(block.data());
    caps->dwTotalSize = DWORD(block.size());
    if (lineGetDevCaps(app, id, version, 0, caps) < 0 || caps->dwProviderInfoSize == 0)
        return "?";
    return std::string(block.data() + caps->dwProviderInfoOffset);
}

// A VARSTRING block of the size programs use for identifier queries.
struct IdQuery {
    std::vector<char> block = std::vector<char>(283);
    IdQuery()
    {
        Var()->dwTotalSize = DWORD(block.size());
        Var()->dwStringFormat = STRINGFORMAT_BINARY;
    }
    VARSTRING* Var() { return reinterpret_cast<VARSTRING*>(block.data()); }
    const char* Data() { return block.data() + Var()->dwStringOffset; }
    DWORD Dword(int i)
    {
        DWORD v = 0;
        std::memcpy(&v, Data() + 4 * i, 4);
        return v;
    }
};

std::string Flags(DWORD bits, const std::vector<std::pair<DWORD, const char*>>& names)
{
    std::string s;
    for (auto& [bit, name] : names)
        if (bits & bit)
            s += (s.empty() ? "" : "|") + std::string(name);
    return s.empty() ? "-" : s;
}

} // namespace

int RunCall(int argc, char** argv);
namespace zq::tools {
int RunSipAccounts(int argc, char** argv);
const char* SipAccountsUsage();
int RunModems(int argc, char** argv);
const char* ModemsUsage();
} // namespace zq::tools

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double watchSeconds = -1;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--watch")) {
            watchSeconds = 0;
            if (i + 1 < argc && argv[i + 1][0] != '-')
                watchSeconds = std::atof(argv[++i]);
        }
        if (!std::strcmp(argv[i], "--call"))
            return RunCall(argc, argv);
        if (!std::strncmp(argv[i], "--sip-", 6))
            return zq::tools::RunSipAccounts(argc, argv);
        if (!std::strncmp(argv[i], "--modem-", 8))
            return zq::tools::RunModems(argc, argv);
        if (!std::strcmp(argv[i], "--help")) {
            std::printf(
                "Usage: zqlines [--watch [SECONDS]]\n"
                "                               list the line devices; --watch then shows lines\n"
                "                               added and removed (for SECONDS, or until ended)\n"
                "       zqlines --call NUMBER [--from I] [--to J] [--data] [--hold SECONDS]\n"
                "                               wait on device J, dial NUMBER on device I, show the\n"
                "                               events and the log, hang up after SECONDS (default 2)\n");
            std::printf("%s", zq::tools::SipAccountsUsage());
            std::printf("%s", zq::tools::ModemsUsage());
            return 0;
        }
    }
    HLINEAPP lineApp = 0;
    DWORD numDevs = 0;
    LONG r = lineInitialize(&lineApp, nullptr, ShowDeviceChanges, nullptr, &numDevs);
    if (r < 0) {
        std::fprintf(stderr, "zqlines: lineInitialize failed: %08Xh %s\n", unsigned(r),
            TAPIErrorText(DWORD(r)).c_str());
        return 1;
    }
    DWORD version = 0;
    LINEEXTENSIONID ext {};
    if (numDevs == 0) {
        std::printf("No line devices.\n");
    } else if (lineNegotiateAPIVersion(lineApp, 0, 0x00010000, 0x00090000, &version, &ext) < 0) {
        std::printf("No line devices.\n");
        lineShutdown(&lineApp);
        return 1;
    } else {
        std::printf("%u line device(s), API version %X.%X\n", unsigned(numDevs), unsigned(version >> 16),
            unsigned(version & 0xFFFF));
    }
    for (DWORD id = 0; id < numDevs; ++id) {
        HLINE line = 0;
        r = lineOpen(
            lineApp, id, &line, version, 0, 0, LINECALLPRIVILEGE_NONE, LINEMEDIAMODE_DATAMODEM, nullptr);
        if (r < 0) {
            std::printf("[%u] cannot be opened: %08Xh %s\n", unsigned(id), unsigned(r),
                TAPIErrorText(DWORD(r)).c_str());
            continue;
        }
        IdQuery name, port, wave;
        std::string lineName = "?", portName = "???";
        if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, name.Var(), "comm/datamodem") >= 0)
            lineName = name.Data() + 4;
        if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, port.Var(), "comm/datamodem/portname") >= 0)
            portName = port.Data();
        DWORD waveIn = 0, waveOut = 0;
        if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, wave.Var(), "wave/in/out") >= 0) {
            waveIn = wave.Dword(0);
            waveOut = wave.Dword(1);
        }
        std::vector<char> capsBlock(sizeof(LINEDEVCAPS));
        auto* caps = reinterpret_cast<LINEDEVCAPS*>(capsBlock.data());
        caps->dwTotalSize = sizeof(LINEDEVCAPS);
        lineGetDevCaps(lineApp, id, version, 0, caps);
        std::printf("[%u] %s\n    provider %s\n    port %s, wave in %u, wave out %u, max rate %u\n",
            unsigned(id), lineName.c_str(), ProviderOf(lineApp, id, version, caps).c_str(), portName.c_str(),
            unsigned(waveIn), unsigned(waveOut), unsigned(caps->dwMaxRate));
        std::printf("    bearer modes %08Xh (%s)\n", unsigned(caps->dwBearerModes),
            Flags(caps->dwBearerModes,
                { { LINEBEARERMODE_VOICE, "voice" }, { LINEBEARERMODE_SPEECH, "speech" },
                    { LINEBEARERMODE_DATA, "data" }, { LINEBEARERMODE_PASSTHROUGH, "passthrough" } })
                .c_str());
        std::printf("    media modes  %08Xh (%s)\n", unsigned(caps->dwMediaModes),
            Flags(caps->dwMediaModes,
                { { LINEMEDIAMODE_INTERACTIVEVOICE, "interactivevoice" },
                    { LINEMEDIAMODE_AUTOMATEDVOICE, "automatedvoice" },
                    { LINEMEDIAMODE_DATAMODEM, "datamodem" }, { LINEMEDIAMODE_G3FAX, "g3fax" } })
                .c_str());
        lineClose(line);
    }
    if (watchSeconds >= 0) {
        std::printf("Watching for lines added and removed...\n");
        std::fflush(stdout);
        if (watchSeconds > 0)
            QTimer::singleShot(int(watchSeconds * 1000), &app, &QCoreApplication::quit);
        app.exec();
    }
    lineShutdown(&lineApp);
    return 0;
}
