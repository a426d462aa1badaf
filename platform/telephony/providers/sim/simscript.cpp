#include "simscript_p.h"

#include <cctype>
#include <cstdlib>

namespace zq::sim {

bool ParseDuration(const std::string& text, DWORD* ms)
{
    std::string t = text;
    double scale = 1000.0;
    if (t.size() > 2 && t.compare(t.size() - 2, 2, "ms") == 0) {
        scale = 1.0;
        t.resize(t.size() - 2);
    } else if (t.size() > 1 && t.back() == 's') {
        t.pop_back();
    }
    if (t.empty())
        return false;
    char* end = nullptr;
    const double v = std::strtod(t.c_str(), &end);
    if (*end != '\0' || v < 0 || v * scale > 0xFFFFFFF0)
        return false;
    *ms = DWORD(v * scale + 0.5);
    return true;
}

DialString ParseDialString(const std::string& dialled)
{
    DialString d;
    size_t slash = dialled.find('/');
    for (char c : dialled.substr(0, slash))
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '*' || c == '#')
            d.number += c;
    while (slash != std::string::npos) {
        const size_t next = dialled.find('/', slash + 1);
        const std::string opt
            = dialled.substr(slash + 1, next == std::string::npos ? next : next - slash - 1);
        slash = next;
        const size_t eq = opt.find('=');
        std::string key = opt.substr(0, eq);
        for (char& c : key)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        const std::string value = eq == std::string::npos ? std::string() : opt.substr(eq + 1);
        DWORD ms = 0;
        if (key == "busy")
            d.script.busy = true;
        else if (key == "noanswer") {
            d.script.noAnswer = true;
            if (!value.empty() && ParseDuration(value, &ms))
                d.script.noAnswerMs = ms;
        } else if (key == "rings" && !value.empty()) {
            d.script.answerRings = std::atoi(value.c_str());
            d.hasAnswerRings = true;
        } else if (key == "hangup" && ParseDuration(value, &ms))
            d.script.hangUpMs = ms;
        else if (key == "dtmf")
            d.script.digits = value;
        else if (key == "callerid")
            d.script.callerId = value;
        else if (key == "callername")
            d.script.callerName = value;
        else if (key == "ring" && ParseDuration(value, &ms))
            d.script.ringMs = ms;
    }
    return d;
}

CallScript Overlay(CallScript base, const DialString& dialled)
{
    const CallScript& s = dialled.script;
    base.busy = base.busy || s.busy;
    if (s.noAnswer) {
        base.noAnswer = true;
        base.noAnswerMs = s.noAnswerMs;
    }
    if (dialled.hasAnswerRings) {
        base.answerRings = s.answerRings;
        base.noAnswer = base.noAnswer && s.noAnswer;
    }
    if (s.hangUpMs)
        base.hangUpMs = s.hangUpMs;
    if (!s.digits.empty())
        base.digits = s.digits;
    if (s.callerId)
        base.callerId = s.callerId;
    if (s.callerName)
        base.callerName = s.callerName;
    if (s.ringMs)
        base.ringMs = s.ringMs;
    return base;
}

} // namespace zq::sim
