#include "tapiui.h"

#include <algorithm>
#include <cstring>

namespace {

struct Message {
    DWORD id;
    const char* text;
};

// Identifier 0xE000 + the low bits of the LINEERR code.
constexpr Message kMessages[] = {
    { 0xE001, "The resource is already allocated." },
    { 0xE002, "The line device identifier is not valid." },
    { 0xE003, "The requested bearer mode is not available." },
    { 0xE005, "No call appearance is available on this line." },
    { 0xE006, "Too many call completions are outstanding." },
    { 0xE007, "The conference is full." },
    { 0xE008, "The dialable address contains a billing prompt ($) the line does not support." },
    { 0xE009, "The dialable address contains a wait for dial tone (W) the line does not support." },
    { 0xE00A, "The dialable address contains a prompt (?) the line does not support." },
    { 0xE00B, "The dialable address contains a wait for quiet (@) the line does not support." },
    { 0xE00C, "The application requested an API version or version range that is incompatible." },
    { 0xE00D, "The application requested an extension version that is incompatible." },
    { 0xE00E, "The telephony settings are corrupt." },
    { 0xE00F, "The line device is in use." },
    { 0xE010, "The address is not valid." },
    { 0xE011, "The address identifier is not valid." },
    { 0xE012, "The address mode is not valid." },
    { 0xE013, "The address state is not valid." },
    { 0xE014, "The application handle is not valid." },
    { 0xE015, "The application name is not valid." },
    { 0xE016, "The bearer mode is not valid." },
    { 0xE017, "The call completion mode is not valid." },
    { 0xE018, "The call handle is not valid." },
    { 0xE019, "The call parameters are not valid." },
    { 0xE01A, "The call privilege is not valid." },
    { 0xE01B, "The call selection is not valid." },
    { 0xE01C, "The call is not in a state in which this operation is possible." },
    { 0xE01D, "The call state list is not valid." },
    { 0xE01E, "The calling card is not valid." },
    { 0xE01F, "The completion identifier is not valid." },
    { 0xE020, "The conference call handle is not valid." },
    { 0xE021, "The consultation call handle is not valid." },
    { 0xE022, "The country code is not valid." },
    { 0xE023, "The device class is not valid." },
    { 0xE024, "The device handle is not valid." },
    { 0xE025, "The dialing parameters are not valid." },
    { 0xE026, "The digit list is not valid." },
    { 0xE027, "The digit mode is not valid." },
    { 0xE028, "The digits are not valid." },
    { 0xE029, "The extension version is not valid." },
    { 0xE02A, "The group identifier is not valid." },
    { 0xE02B, "The line handle is not valid." },
    { 0xE02C, "The line state is not valid." },
    { 0xE02D, "The location is not valid." },
    { 0xE02E, "The media list is not valid." },
    { 0xE02F, "The media mode is not valid." },
    { 0xE030, "The message identifier is not valid." },
    { 0xE032, "A parameter is not valid." },
    { 0xE033, "The park identifier is not valid." },
    { 0xE034, "The park mode is not valid." },
    { 0xE035, "A pointer is not valid." },
    { 0xE036, "The privilege selection is not valid." },
    { 0xE037, "The rate is not valid." },
    { 0xE038, "The request mode is not valid." },
    { 0xE039, "The terminal identifier is not valid." },
    { 0xE03A, "The terminal mode is not valid." },
    { 0xE03B, "The time-out is not valid." },
    { 0xE03C, "The tone is not valid." },
    { 0xE03D, "The tone list is not valid." },
    { 0xE03E, "The tone mode is not valid." },
    { 0xE03F, "The transfer mode is not valid." },
    { 0xE040, "No line device could be found for the line mapper." },
    { 0xE041, "The call is not a conference call." },
    { 0xE042, "The device does not exist." },
    { 0xE043, "The telephony service provider is not installed or could not be started." },
    { 0xE044, "Not enough memory is available." },
    { 0xE045, "No request is pending." },
    { 0xE046, "The application is not an owner of the call." },
    { 0xE047, "The application is not registered." },
    { 0xE048, "The operation failed." },
    { 0xE049, "The operation is not available." },
    { 0xE04A, "The requested rate is not available." },
    { 0xE04B, "A resource needed for the operation is not available." },
    { 0xE04C, "Too many requests are outstanding." },
    { 0xE04D, "The structure is too small for the information." },
    { 0xE04E, "The target was not found." },
    { 0xE04F, "The target is the requesting party." },
    { 0xE050, "The telephony service has not been initialised." },
    { 0xE051, "The user-to-user information is too large." },
    { 0xE052, "The telephony service must be restarted." },
    { 0xE053, "The address is blocked." },
    { 0xE054, "The billing information was rejected." },
    { 0xE055, "The feature is not valid." },
    { 0xE056, "Multiple instances of this application are not allowed." },
    { 0xE05C, "A voice answered instead of a modem." },
    { 0xE05D, "The operation was cancelled by the user." },
    { 0xE05E, "The address type is not valid." },
    { 0xE060, "The connection was disconnected." },
    { 0xE061, "The telephony service is not running." },
};

} // namespace

extern "C" ZQTAPIUI_EXPORT DWORD LoadMessage(DWORD id, char* buffer, DWORD size)
{
    if (!buffer || size == 0)
        return 0;
    for (const Message& m : kMessages) {
        if (m.id != id)
            continue;
        const DWORD n = DWORD(std::min<size_t>(std::strlen(m.text), size - 1));
        std::memcpy(buffer, m.text, n);
        buffer[n] = '\0';
        return n;
    }
    buffer[0] = '\0';
    return 0;
}
