#include "modeminit_p.h"

#include <algorithm>

namespace zq::modem {

namespace {

constexpr uint32_t kCompression = 0x1;
constexpr uint32_t kErrorControl = 0x2;
constexpr uint32_t kForcedEc = 0x4;
constexpr uint32_t kFlowHard = 0x10;
constexpr uint32_t kFlowSoft = 0x20;
constexpr uint32_t kBlindDial = 0x200;

uint32_t clampRegister(uint32_t v)
{
    return std::min<uint32_t>(v, 255);
}

} // namespace

std::vector<InitCommand> initCommands(const ModemSettings& s)
{
    std::vector<InitCommand> out;
    static const char* const volume[] = { "L1", "L2", "L3" };
    out.push_back({ volume[std::min<uint32_t>(s.speakerVolume, 2)], "speaker volume" });
    static const char* const mode[] = { "M0", "M1", "M2", "M3" };
    out.push_back({ mode[std::min<uint32_t>(s.speakerMode, 3)], "speaker mode" });
    // S7 counts seconds from dialling to carrier; 0 would mean "no wait".
    out.push_back({ "S7=" + std::to_string(std::max<uint32_t>(1, clampRegister(s.callSetupFailTimer))),
        "call set-up fail timer" });
    // S30 counts the inactivity time in tens of seconds, rounded up so that
    // a short time-out does not become none.
    out.push_back(
        { "S30=" + std::to_string(clampRegister((s.inactivityTimeout + 9) / 10)), "inactivity timer" });
    const uint32_t o = s.preferredOptions;
    out.push_back({ (o & kForcedEc) && (o & kErrorControl) ? "\\N2"
            : (o & kErrorControl)                          ? "\\N3"
                                                           : "\\N0",
        "error control" });
    out.push_back({ (o & kCompression) ? "%C1" : "%C0", "compression" });
    out.push_back({ (o & kFlowSoft) ? "&K4" : (o & kFlowHard) ? "&K3" : "&K0", "flow control" });
    out.push_back({ (o & kBlindDial) ? "X3" : "X4", "blind dialling" });
    return out;
}

std::string userInitBody(const std::string& text)
{
    std::string t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\r' || t.back() == '\n'))
        t.pop_back();
    size_t b = t.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    t = t.substr(b);
    if (t.size() >= 2 && (t[0] == 'A' || t[0] == 'a') && (t[1] == 'T' || t[1] == 't'))
        t = t.substr(2);
    for (char c : t) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return {};
    }
    return t;
}

} // namespace zq::modem
