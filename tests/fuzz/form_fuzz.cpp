// Form resources come from files a user can edit: any text must either parse
// or be refused with EReadError, and what parses must survive being written
// back and read again unchanged.
#include "zqformstream.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

// The reader takes names loosely (a later step looks each up and refuses
// what does not exist); the round trip is promised for forms whose names
// are identifiers, as every form the writer makes.
bool IsIdent(const std::string& s, bool dotted = false)
{
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0])) || s == "object" || s == "end")
        return false;
    for (char c : s)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && !(dotted && c == '.'))
            return false;
    return true;
}

bool NamesAreIdents(const zq::framework::TFormObject& o)
{
    if (!IsIdent(o.name) || !IsIdent(o.className))
        return false;
    for (const zq::framework::TFormProperty& p : o.properties) {
        if (!IsIdent(p.name, true))
            return false;
        if (p.value.kind == zq::framework::TFormValue::Kind::Ident && !IsIdent(p.value.text, true))
            return false;
        for (const std::string& m : p.value.members)
            if (!IsIdent(m))
                return false;
    }
    for (const zq::framework::TFormObject& c : o.children)
        if (!NamesAreIdents(c))
            return false;
    return true;
}

bool SameValue(const zq::framework::TFormValue& a, const zq::framework::TFormValue& b)
{
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case zq::framework::TFormValue::Kind::Integer:
        return a.integer == b.integer;
    case zq::framework::TFormValue::Kind::String:
    case zq::framework::TFormValue::Kind::Ident:
        return a.text == b.text;
    case zq::framework::TFormValue::Kind::Set:
    case zq::framework::TFormValue::Kind::List:
        return a.members == b.members;
    case zq::framework::TFormValue::Kind::Boolean:
        return a.boolean == b.boolean;
    }
    return false;
}

bool SameObject(const zq::framework::TFormObject& a, const zq::framework::TFormObject& b)
{
    if (a.name != b.name || a.className != b.className || a.properties.size() != b.properties.size()
        || a.children.size() != b.children.size())
        return false;
    for (size_t i = 0; i < a.properties.size(); ++i)
        if (a.properties[i].name != b.properties[i].name
            || !SameValue(a.properties[i].value, b.properties[i].value))
            return false;
    for (size_t i = 0; i < a.children.size(); ++i)
        if (!SameObject(a.children[i], b.children[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    zq::framework::TFormObject form;
    try {
        form = zq::framework::ParseForm(text);
    } catch (const EReadError&) {
        return 0;
    }
    const std::string written = zq::framework::WriteFormText(form);
    if (!NamesAreIdents(form))
        return 0;
    zq::framework::TFormObject again;
    try {
        again = zq::framework::ParseForm(written);
    } catch (const EReadError& e) {
        std::fprintf(stderr, "a written form does not read back: %s\n%s\n", e.what(), written.c_str());
        std::abort();
    }
    if (!SameObject(form, again)) {
        std::fprintf(stderr, "a written form reads back different:\n%s\n", written.c_str());
        std::abort();
    }
    return 0;
}
