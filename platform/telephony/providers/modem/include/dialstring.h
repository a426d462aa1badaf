#pragma once
// What may follow ATD. A dial string is sent inside an AT command line, so a
// character outside the dial set could end the command (CR), chain another
// one (;) or change the modem's settings; such a string is refused before
// anything reaches the port.
#include <string>

namespace zq::modem {

// Empty when text is a dial string the modem may be given; otherwise a
// sentence saying what is wrong with it. Spaces, dashes, dots and brackets
// that people write into numbers are left out by dialablePart.
std::string dialStringError(const std::string& text);
std::string dialablePart(const std::string& text);

} // namespace zq::modem
