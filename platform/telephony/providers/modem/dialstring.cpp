#include "dialstring.h"

namespace zq::modem {

namespace {

bool isDialChar(char c)
{
    if (c >= '0' && c <= '9')
        return true;
    switch (c) {
    case '*':
    case '#':
    case '+':
    case ',':
    case 'W':
    case 'P':
    case 'T':
    case '!':
    case '@':
    case 'A':
    case 'B':
    case 'C':
    case 'D':
        return true;
    default:
        return false;
    }
}

// Written into numbers for people, meaning nothing to the modem.
bool isLayoutChar(char c)
{
    return c == ' ' || c == '-' || c == '.' || c == '(' || c == ')' || c == '/';
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

} // namespace

std::string dialablePart(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (!isLayoutChar(c))
            out += upper(c);
    }
    return out;
}

std::string dialStringError(const std::string& text)
{
    const std::string d = dialablePart(text);
    if (d.empty())
        return {};
    for (char c : d) {
        if (!isDialChar(c)) {
            std::string shown;
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
                static const char hex[] = "0123456789ABCDEF";
                shown = std::string("0x") + hex[(static_cast<unsigned char>(c) >> 4) & 0xF]
                    + hex[static_cast<unsigned char>(c) & 0xF];
            } else {
                shown = std::string("'") + c + "'";
            }
            return "The number contains " + shown
                + ", which is not a dial character (allowed: 0-9 * # + , W P T ! @ A-D).";
        }
    }
    // A modem line has a bounded buffer; a longer string would be cut short
    // by the modem, which then dials a different number.
    if (d.size() > 40)
        return "The number is longer than 40 dial characters.";
    return {};
}

} // namespace zq::modem
