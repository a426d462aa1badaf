#pragma once
// Form resources: a text of nested objects with their published properties,
// read into live components and written back from them.
//
//   object Form1: TForm1
//     object zqCommTAPI1: TzqCommTAPI
//       Retries = 3
//       Phone = 'call me'
//       TraceStates = []
//       DeviceModem.Options = [moShowIcon, moErrorControl]
//       OnFatalError = zqCommTAPI1FatalError
//     end
//   end
//
// Values: integers (also #0 for a character), 'quoted strings' ('' inside
// for a quote), True/False, identifiers (an enumeration member, a component
// named in the form, or a handler of the form for properties On…/After…),
// [sets], and lists of strings, which may run over several lines:
//
//       Text = (
//         'first line'
//         'it''s the second')
//
// Reading creates the objects the form's code has not created
// already, puts every component in the loading state, sets the properties
// by name, resolves references once every object exists, and then runs
// each component's Loaded step.
#include "zqclasses_export.h"
#include "zqcomponent.h"

#include <any>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A form resource that does not parse, or names something that does not exist.
class ZQCLASSES_EXPORT EReadError : public Exception {
public:
    using Exception::Exception;
};

namespace zq::framework {

struct TFormValue {
    enum class Kind { Integer, String, Ident, Set, Boolean, List };
    Kind kind = Kind::Integer;
    long long integer = 0;
    std::string text; // String, Ident
    std::vector<std::string> members; // Set; List: its strings
    bool boolean = false;
};

struct TFormProperty {
    std::string name; // may be a path: DeviceModem.SpeakerVol
    TFormValue value;
    int line = 0;
};

struct TFormObject {
    std::string name;
    std::string className;
    std::vector<TFormProperty> properties;
    std::vector<TFormObject> children;
    int line = 0;
};

ZQCLASSES_EXPORT TFormObject ParseForm(const std::string& text);
ZQCLASSES_EXPORT std::string WriteFormText(const TFormObject& form);

// Classes the reader may create, by name.
using TComponentFactory = std::function<QObject*(QObject* owner)>;
ZQCLASSES_EXPORT void RegisterComponentClass(const std::string& className, TComponentFactory factory);

// Enumeration members by name, for properties held as plain integers.
ZQCLASSES_EXPORT void RegisterEnumMembers(const std::vector<std::pair<std::string, int>>& members);
ZQCLASSES_EXPORT bool EnumMemberValue(const std::string& name, int& value);
ZQCLASSES_EXPORT std::string EnumMemberName(const std::string& typePrefix, int value);

// The handlers a form offers to its components' events, by name: each an
// event value (TEvent<…>) of the type the event expects.
using THandlerTable = std::map<std::string, std::any>;

// Reads desc into root (the form): its children become root's children.
ZQCLASSES_EXPORT void ReadForm(QObject* root, const TFormObject& desc, const THandlerTable& handlers);
// Describes root and its components with every published property.
ZQCLASSES_EXPORT TFormObject WriteForm(
    QObject* root, const std::string& className, const THandlerTable& handlers);

} // namespace zq::framework
