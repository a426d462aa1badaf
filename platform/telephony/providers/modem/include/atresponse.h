#pragma once
// What a modem says in command state, one line at a time: result codes in
// either form (verbose or numeric), information text, unsolicited lines such
// as RING and caller id between the responses to commands, and the echo of the
// command when echo is on. Pure: it only sees bytes and owns no port.
//
// Threads: one parser belongs to the thread that reads its port.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zq::modem {

enum class AtKind {
    Ok,
    Error,
    Connect, // rate is set when the modem named one
    NoCarrier,
    Busy,
    NoAnswer,
    NoDialtone,
    Ring,
    CallerId, // key (NMBR, NAME, DATE, TIME, MESG) and value
    Echo, // a line starting with AT, the modem repeating our command
    Dle, // a shielded event in command state; code holds its character
    Info, // any other line: the answer to a query
};

struct AtLine {
    AtKind kind = AtKind::Info;
    std::string text; // the line as received, without its terminator
    uint32_t rate = 0; // Connect only
    std::string key; // CallerId only
    std::string value; // CallerId only
    char code = 0; // Dle only

    bool final() const
    {
        return kind == AtKind::Ok || kind == AtKind::Error || kind == AtKind::Connect
            || kind == AtKind::NoCarrier || kind == AtKind::Busy || kind == AtKind::NoAnswer
            || kind == AtKind::NoDialtone;
    }
};

// How digit-only lines are read. After a reset the form is unknown until the
// modem has confirmed our choice, so a few single digits then count as codes.
enum class ResultForm { Verbose, Numeric, Either };

class AtResponseParser {
public:
    static constexpr size_t MaxLine = 512;

    void setForm(ResultForm form) { form_ = form; }
    ResultForm form() const { return form_; }

    // Parses data and appends what it completes to out. Stops right after a
    // CONNECT line, because what follows it belongs to the call (voice or data
    // bytes), and returns how many bytes it took; otherwise takes everything.
    size_t feed(const uint8_t* data, size_t size, std::vector<AtLine>& out);

    // Forgets a partial line, e.g. when the port changes hands.
    void reset();

    // True when the last CONNECT line ended a read with its CR: the LF that
    // follows in the next read is the line's, not the first byte of the call.
    bool lfOwed() const { return lfOwed_; }

    // Classifies one complete line (also used on its own by tests).
    AtLine classify(const std::string& line) const;

private:
    std::string line_;
    bool overflow_ = false;
    bool dle_ = false;
    bool lfOwed_ = false;
    ResultForm form_ = ResultForm::Either;
};

} // namespace zq::modem
