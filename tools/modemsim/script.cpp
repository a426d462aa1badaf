#include "script.h"

#include <cctype>
#include <sstream>

namespace zq::tools {

std::string upperCase(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

namespace {

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// Words, with "double quoted" words kept whole.
std::vector<std::string> words(const std::string& s)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
            ++i;
        if (i >= s.size())
            break;
        std::string w;
        if (s[i] == '"') {
            ++i;
            while (i < s.size() && s[i] != '"')
                w += s[i++];
            ++i;
        } else {
            while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i])))
                w += s[i++];
        }
        out.push_back(w);
    }
    return out;
}

} // namespace

std::vector<SimAction> parseSimActions(const std::string& text)
{
    std::vector<SimAction> out;
    std::stringstream ss(text);
    std::string part;
    while (std::getline(ss, part, ';')) {
        part = trim(part);
        if (part.empty())
            continue;
        SimAction a;
        if (part.rfind("say ", 0) == 0) {
            a.verb = "say";
            a.args.push_back(trim(part.substr(4)));
        } else {
            auto w = words(part);
            a.verb = w[0];
            a.args.assign(w.begin() + 1, w.end());
        }
        out.push_back(a);
    }
    return out;
}

bool parseSimScript(const std::string& text, SimScript& script, std::string& error)
{
    std::stringstream ss(text);
    std::string line;
    int number = 0;
    while (std::getline(ss, line)) {
        ++number;
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line.rfind("formats ", 0) == 0) {
            script.formats.clear();
            std::stringstream fs(line.substr(8));
            std::string f;
            while (std::getline(fs, f, ','))
                script.formats.push_back(trim(f));
            continue;
        }
        if (line == "duplex") {
            script.duplex = true;
            continue;
        }
        if (line.rfind("info ", 0) == 0) {
            script.info = trim(line.substr(5));
            continue;
        }
        if (line.rfind("error ", 0) == 0) {
            script.errors.push_back(upperCase(trim(line.substr(6))));
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            error = "line " + std::to_string(number) + ": no rule: " + line;
            return false;
        }
        const std::string head = trim(line.substr(0, colon));
        SimRule rule;
        if (head == "start") {
            rule.kind = SimRule::Start;
        } else if (head.rfind("on ", 0) == 0 || head.rfind("after ", 0) == 0) {
            rule.kind = head[0] == 'o' ? SimRule::On : SimRule::After;
            std::string cmd = upperCase(trim(head.substr(head.find(' ') + 1)));
            if (cmd.rfind("AT", 0) == 0)
                cmd = cmd.substr(2);
            rule.command = cmd;
        } else {
            error = "line " + std::to_string(number) + ": unknown rule: " + head;
            return false;
        }
        rule.actions = parseSimActions(line.substr(colon + 1));
        script.rules.push_back(rule);
    }
    return true;
}

} // namespace zq::tools
