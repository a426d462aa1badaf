#pragma once
// The cue script of the modem simulator. One rule a line:
//
//   # a comment
//   formats 16,8,ulaw,alaw       sample formats AT+VSM=? offers (default: all)
//   info Sim Voice Modem 1.0     what ATI answers
//   duplex                       offers full duplex (AT+VTR); without it the
//                                modem plays or records, one at a time
//   error &K3                    ERROR to any command line holding a command
//                                that starts so (letters compared in any case)
//   start: <actions>             runs once at start
//   on <command>: <actions>      instead of the modem's own answer to it
//                                (<command> is the start of the commands
//                                meant; a query ending in ? only matches a
//                                rule that has the ?)
//   after <command>: <actions>   after the modem's own answer to it
//
// Actions, separated by ';', run one after the other:
//   ok | error | connect [rate] | busy | noanswer | nocarrier | nodialtone
//   say <text>                   one line of text as the modem's answer
//   ring <n> [every <ms>] [cid <number> [<name>]]
//                                rings until answered (ATA, AT+VLS=1) or n rung
//   dle <codes>                  shielded codes, e.g. "dle b" (busy), "dle 12#"
//   dtmf <digits>                the same, for digits
//   play                         waits for AT+VRX and sends the --play file at
//                                the real rate
//   hangup                       the far end hangs up (DLE l in voice, NO
//                                CARRIER in data)
//   wait <ms> | waitfor <command>
//   mute                         answers nothing any more
//   unplug                       closes the terminal and ends the program
#include <string>
#include <vector>

namespace zq::tools {

struct SimAction {
    std::string verb;
    std::vector<std::string> args;
};

struct SimRule {
    enum Kind { Start, On, After } kind = Start;
    std::string command; // upper case, without "AT"
    std::vector<SimAction> actions;
};

struct SimScript {
    std::vector<std::string> formats { "16", "8", "ulaw", "alaw" };
    std::string info = "ZQ simulated voice modem";
    bool duplex = false;
    std::vector<std::string> errors; // upper case
    std::vector<SimRule> rules;
};

// Adds the rules of text to script; false with a message in error on a line
// it cannot read.
bool parseSimScript(const std::string& text, SimScript& script, std::string& error);
std::vector<SimAction> parseSimActions(const std::string& text);

std::string upperCase(std::string s);

} // namespace zq::tools
