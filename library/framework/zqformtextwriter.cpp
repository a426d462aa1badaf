#include "zqformstream.h"

namespace zq::framework {

namespace {

std::string QuoteString(const std::string& s)
{
    std::string out;
    bool open = false;
    for (unsigned char c : s) {
        if (c < 32) {
            if (open) {
                out += '\'';
                open = false;
            }
            out += "#" + std::to_string(c);
            continue;
        }
        if (!open) {
            out += '\'';
            open = true;
        }
        out += c == '\'' ? std::string("''") : std::string(1, static_cast<char>(c));
    }
    if (open)
        out += '\'';
    return out.empty() ? "''" : out;
}

std::string ValueText(const TFormValue& v, const std::string& pad)
{
    switch (v.kind) {
    case TFormValue::Kind::List: {
        std::string s = "(";
        for (const auto& item : v.members)
            s += "\n" + pad + "  " + QuoteString(item);
        return s + ")";
    }
    case TFormValue::Kind::Integer:
        return std::to_string(v.integer);
    case TFormValue::Kind::String:
        return QuoteString(v.text);
    case TFormValue::Kind::Ident:
        return v.text;
    case TFormValue::Kind::Boolean:
        return v.boolean ? "True" : "False";
    case TFormValue::Kind::Set: {
        std::string s = "[";
        for (size_t i = 0; i < v.members.size(); ++i)
            s += (i ? ", " : "") + v.members[i];
        return s + "]";
    }
    }
    return {};
}

void WriteObject(const TFormObject& o, int depth, std::string& out)
{
    const std::string pad(depth * 2, ' ');
    out += pad + "object " + o.name + ": " + o.className + "\n";
    for (const auto& p : o.properties)
        out += pad + "  " + p.name + " = " + ValueText(p.value, pad + "  ") + "\n";
    for (const auto& c : o.children)
        WriteObject(c, depth + 1, out);
    out += pad + "end\n";
}
} // namespace

std::string WriteFormText(const TFormObject& form)
{
    std::string out;
    WriteObject(form, 0, out);
    return out;
}

} // namespace zq::framework
