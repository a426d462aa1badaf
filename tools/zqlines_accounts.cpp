// zqlines --sip-*: the SIP accounts that become line devices. Passwords are
// read from the terminal (not echoed) or from the first line of standard
// input, never from the command line, where other users could see them.
#include "registry.h"
#include "sipaccounts.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace zq::tools {

namespace {

std::string ReadPassword()
{
    std::string password;
    if (isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "Password (empty for none): ");
        termios old {};
        tcgetattr(STDIN_FILENO, &old);
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
        std::getline(std::cin, password);
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
        std::fprintf(stderr, "\n");
    } else {
        std::getline(std::cin, password);
    }
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    return password;
}

void EnableProvider()
{
    HKEY key = nullptr;
    if (RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\zqcomm\\Telephony\\SIP", 0, nullptr,
            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key, nullptr)
        != 0)
        return;
    const DWORD one = 1;
    RegSetValueEx(key, "Enabled", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    RegCloseKey(key);
}

// Applies --option VALUE pairs from argv[first..]; false on an unknown one.
bool ApplyOptions(int argc, char** argv, int first, sip::SipAccountSettings* s, bool* askPassword)
{
    for (int i = first; i < argc; ++i) {
        const std::string o = argv[i];
        if (o == "--password") {
            *askPassword = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "zqlines: %s needs a value\n", o.c_str());
            return false;
        }
        const std::string v = argv[++i];
        if (o == "--address")
            s->address = v;
        else if (o == "--display")
            s->displayName = v;
        else if (o == "--registrar")
            s->registrar = v;
        else if (o == "--proxy")
            s->outboundProxy = v;
        else if (o == "--auth-user")
            s->authUser = v;
        else if (o == "--transport")
            s->transport = v;
        else if (o == "--local-address")
            s->localAddress = v;
        else if (o == "--local-port")
            s->localPort = std::atoi(v.c_str());
        else if (o == "--rtp-ports") {
            const size_t dash = v.find('-');
            s->rtpPortMin = std::atoi(v.substr(0, dash).c_str());
            s->rtpPortMax = dash == std::string::npos ? s->rtpPortMin : std::atoi(v.substr(dash + 1).c_str());
        } else if (o == "--codecs")
            s->codecs = v;
        else {
            std::fprintf(stderr, "zqlines: unknown option %s\n", o.c_str());
            return false;
        }
    }
    return true;
}

int Save(const sip::SipAccountSettings& s, bool setPassword)
{
    const std::string problem = sip::CheckSipAccount(s);
    if (!problem.empty()) {
        std::fprintf(stderr, "zqlines: %s\n", problem.c_str());
        return 1;
    }
    std::string error;
    if (!sip::SaveSipAccount(s, &error)) {
        std::fprintf(stderr, "zqlines: %s\n", error.c_str());
        return 1;
    }
    if (setPassword && !sip::SetSipPassword(s.name, ReadPassword(), &error)) {
        std::fprintf(stderr, "zqlines: %s\n", error.c_str());
        return 1;
    }
    EnableProvider();
    return 0;
}

} // namespace

const char* SipAccountsUsage()
{
    return "       zqlines --sip-list           list the SIP accounts\n"
           "       zqlines --sip-add NAME --address sip:USER@DOMAIN [options]\n"
           "       zqlines --sip-change NAME [options] [--password]\n"
           "                                    add or change a SIP account (a line named NAME);\n"
           "                                    the password is read from the terminal or the\n"
           "                                    first line of standard input. Options:\n"
           "                                    --display NAME --registrar URI --proxy URI\n"
           "                                    --auth-user USER --transport udp|tcp|tls\n"
           "                                    --local-address IP --local-port N\n"
           "                                    --rtp-ports MIN-MAX --codecs PCMU,PCMA\n"
           "       zqlines --sip-remove NAME    remove a SIP account and its password\n";
}

int RunSipAccounts(int argc, char** argv)
{
    int at = 1;
    while (at < argc && std::strncmp(argv[at], "--sip-", 6) != 0)
        ++at;
    const std::string command = argv[at];
    if (command == "--sip-list") {
        for (const std::string& name : sip::SipAccountNames()) {
            sip::SipAccountSettings s;
            if (!sip::LoadSipAccount(name, &s))
                continue;
            std::printf("%s\n  address %s%s%s\n  registrar %s  proxy %s  transport %s  password %s\n",
                name.c_str(), s.address.c_str(), s.displayName.empty() ? "" : "  display ",
                s.displayName.c_str(), s.registrar.empty() ? "(none)" : s.registrar.c_str(),
                s.outboundProxy.empty() ? "(none)" : s.outboundProxy.c_str(), s.transport.c_str(),
                sip::SipPassword(name).empty() ? "not set" : "set");
        }
        return 0;
    }
    if (at + 1 >= argc) {
        std::fprintf(stderr, "zqlines: %s needs the account's name\n", command.c_str());
        return 2;
    }
    const std::string name = argv[at + 1];
    if (command == "--sip-remove") {
        std::string error;
        if (!sip::RemoveSipAccount(name, &error)) {
            std::fprintf(stderr, "zqlines: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    sip::SipAccountSettings s;
    bool askPassword = false;
    if (command == "--sip-add") {
        if (sip::LoadSipAccount(name, &s)) {
            std::fprintf(stderr, "zqlines: there is a SIP account \"%s\" already\n", name.c_str());
            return 1;
        }
        s.name = name;
        askPassword = true;
    } else if (command == "--sip-change") {
        if (!sip::LoadSipAccount(name, &s)) {
            std::fprintf(stderr, "zqlines: there is no SIP account \"%s\"\n", name.c_str());
            return 1;
        }
    } else {
        std::fprintf(stderr, "zqlines: unknown command %s\n", command.c_str());
        return 2;
    }
    if (!ApplyOptions(argc, argv, at + 2, &s, &askPassword))
        return 2;
    return Save(s, askPassword);
}

} // namespace zq::tools
