#include "zqformstream.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <stdexcept>

namespace zq::framework {

namespace {

class Parser {
public:
    explicit Parser(const std::string& text)
    {
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines_.push_back(line);
        }
    }

    TFormObject Parse()
    {
        Skip();
        if (pos_ >= lines_.size())
            Fail("expected \"object Name: Class\"");
        TFormObject form = Object();
        Skip();
        if (pos_ < lines_.size())
            Fail("text after the end of the form");
        return form;
    }

private:
    [[noreturn]] void Fail(const std::string& what) const
    {
        throw EReadError("Form resource, line " + std::to_string(pos_ + 1) + ": " + what);
    }

    static std::string Trim(const std::string& s)
    {
        size_t b = s.find_first_not_of(" \t");
        if (b == std::string::npos)
            return {};
        size_t e = s.find_last_not_of(" \t");
        return s.substr(b, e - b + 1);
    }

    void Skip()
    {
        while (pos_ < lines_.size()) {
            const std::string t = Trim(lines_[pos_]);
            if (!t.empty() && t.rfind("//", 0) != 0)
                return;
            ++pos_;
        }
    }

    TFormObject Object()
    {
        const std::string head = Trim(lines_[pos_]);
        if (head.rfind("object ", 0) != 0)
            Fail("expected \"object Name: Class\"");
        TFormObject o;
        o.line = static_cast<int>(pos_ + 1);
        const std::string rest = Trim(head.substr(7));
        const size_t colon = rest.find(':');
        if (colon == std::string::npos)
            Fail("expected \"object Name: Class\"");
        o.name = Trim(rest.substr(0, colon));
        o.className = Trim(rest.substr(colon + 1));
        if (o.className.empty())
            Fail("missing class name");
        ++pos_;
        for (;;) {
            Skip();
            if (pos_ >= lines_.size())
                Fail("missing \"end\" of object " + o.name);
            const std::string t = Trim(lines_[pos_]);
            if (t == "end") {
                ++pos_;
                return o;
            }
            if (t.rfind("object ", 0) == 0) {
                o.children.push_back(Object());
                continue;
            }
            o.properties.push_back(Property(t));
            ++pos_;
        }
    }

    TFormProperty Property(const std::string& t)
    {
        const size_t eq = t.find('=');
        if (eq == std::string::npos)
            Fail("expected \"Property = Value\"");
        TFormProperty p;
        p.line = static_cast<int>(pos_ + 1);
        p.name = Trim(t.substr(0, eq));
        if (p.name.empty())
            Fail("missing property name");
        const std::string v = Trim(t.substr(eq + 1));
        p.value = !v.empty() && v[0] == '(' ? List(v) : Value(v);
        return p;
    }

    // ( 'a' 'b'#13 ... ) from this line and as many more as it takes; pos_
    // is left on its last line.
    TFormValue List(std::string text)
    {
        TFormValue r;
        r.kind = TFormValue::Kind::List;
        size_t i = 1;
        for (;;) {
            while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
                ++i;
            if (i >= text.size()) {
                if (++pos_ >= lines_.size())
                    Fail("unterminated list");
                text = Trim(lines_[pos_]);
                i = 0;
                continue;
            }
            if (text[i] == ')') {
                if (!Trim(text.substr(i + 1)).empty())
                    Fail("text after the end of the list");
                return r;
            }
            // One item: quoted pieces and #n characters with nothing between.
            const size_t start = i;
            while (i < text.size() && (text[i] == '\'' || text[i] == '#')) {
                if (text[i] == '#') {
                    ++i;
                    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
                        ++i;
                    continue;
                }
                ++i;
                for (;;) {
                    if (i >= text.size())
                        Fail("unterminated string");
                    if (text[i] == '\'' && i + 1 < text.size() && text[i + 1] == '\'') {
                        i += 2;
                        continue;
                    }
                    if (text[i++] == '\'')
                        break;
                }
            }
            if (i == start)
                Fail("a list holds only strings");
            TFormValue item;
            item.kind = TFormValue::Kind::String;
            const std::string piece = text.substr(start, i - start);
            std::string value = StringValue(piece, item);
            if (item.kind == TFormValue::Kind::Integer) // a lone #n is a one-character string here
                value = std::string(1, static_cast<char>(item.integer));
            r.members.push_back(value);
        }
    }

    TFormValue Value(const std::string& v)
    {
        TFormValue r;
        if (v.empty())
            Fail("missing value");
        if (v[0] == '\'' || v[0] == '#') {
            r.kind = TFormValue::Kind::String;
            r.text = StringValue(v, r);
            return r;
        }
        if (v[0] == '[') {
            if (v.back() != ']')
                Fail("unterminated set");
            r.kind = TFormValue::Kind::Set;
            std::string inner = v.substr(1, v.size() - 2);
            std::istringstream in(inner);
            std::string m;
            while (std::getline(in, m, ',')) {
                m = Trim(m);
                if (!m.empty())
                    r.members.push_back(m);
            }
            return r;
        }
        if (v[0] == '-' || std::isdigit(static_cast<unsigned char>(v[0]))) {
            r.kind = TFormValue::Kind::Integer;
            try {
                size_t used = 0;
                r.integer = std::stoll(v, &used, 0);
                if (used != v.size())
                    Fail("bad number \"" + v + "\"");
            } catch (const std::logic_error&) {
                Fail("bad number \"" + v + "\"");
            }
            return r;
        }
        if (v == "True" || v == "False") {
            r.kind = TFormValue::Kind::Boolean;
            r.boolean = v == "True";
            return r;
        }
        for (char c : v)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '.')
                Fail("bad identifier \"" + v + "\"");
        r.kind = TFormValue::Kind::Ident;
        r.text = v;
        return r;
    }

    // 'text' pieces and #n characters, joined: 'it''s'#13'next'. A lone #n
    // stays an integer-valued character for character properties.
    std::string StringValue(const std::string& v, TFormValue& r)
    {
        std::string out;
        size_t i = 0;
        bool quoted = false;
        while (i < v.size()) {
            if (v[i] == '\'') {
                quoted = true;
                ++i;
                for (;;) {
                    if (i >= v.size())
                        Fail("unterminated string");
                    if (v[i] == '\'') {
                        if (i + 1 < v.size() && v[i + 1] == '\'') {
                            out += '\'';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    out += v[i++];
                }
            } else if (v[i] == '#') {
                ++i;
                size_t start = i;
                while (i < v.size() && std::isdigit(static_cast<unsigned char>(v[i])))
                    ++i;
                if (start == i)
                    Fail("bad character code");
                // Compared as text first: a long run of digits is no int.
                const std::string digits = v.substr(start, i - start);
                const size_t first = std::min(digits.find_first_not_of('0'), digits.size());
                if (digits.size() - first > 3 || std::stoi(digits) > 255)
                    Fail("character code above 255");
                const int code = std::stoi(digits);
                out += static_cast<char>(code);
                r.integer = code;
            } else {
                Fail("bad string \"" + v + "\"");
            }
        }
        if (!quoted && out.size() == 1) {
            r.kind = TFormValue::Kind::Integer;
            return {};
        }
        return out;
    }

    std::vector<std::string> lines_;
    size_t pos_ = 0;
};

} // namespace

TFormObject ParseForm(const std::string& text)
{
    return Parser(text).Parse();
}

} // namespace zq::framework
