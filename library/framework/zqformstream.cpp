#include "zqformstream.h"

#include <QMetaProperty>
#include <QVariant>

#include <cctype>
#include <mutex>
#include <sstream>

namespace {

// Parsing ----------------------------------------------------------------------

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
                const int code = std::stoi(v.substr(start, i - start));
                if (code > 255)
                    Fail("character code above 255");
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

// Registries ------------------------------------------------------------------------

std::mutex registryMutex;
std::map<std::string, TComponentFactory>& Factories()
{
    static std::map<std::string, TComponentFactory> f;
    return f;
}
std::map<std::string, int>& EnumMembers()
{
    static std::map<std::string, int> m;
    return m;
}

// Reading -------------------------------------------------------------------------------

struct Fixup {
    QObject* target;
    QByteArray property;
    std::string name;
    int line;
};

class Reader {
public:
    Reader(QObject* root, const THandlerTable& handlers)
        : root_(root)
        , handlers_(handlers)
    {
    }

    void Read(const TFormObject& desc)
    {
        Begin(root_);
        Apply(root_, desc);
        for (const auto& child : desc.children)
            ReadChild(child, root_);
        for (const Fixup& f : fixups_) {
            QObject* target = f.name == root_->objectName().toStdString()
                ? root_
                : root_->findChild<QObject*>(QString::fromStdString(f.name));
            if (!target)
                throw EReadError("Form resource, line " + std::to_string(f.line) + ": no component named \""
                    + f.name + "\"");
            SetReference(f.target, f.property, target, f.line);
        }
        for (TComponent* c : loading_)
            c->Loaded();
    }

private:
    [[noreturn]] static void Fail(int line, const std::string& what)
    {
        throw EReadError("Form resource, line " + std::to_string(line) + ": " + what);
    }

    void Begin(QObject* o)
    {
        if (auto* c = qobject_cast<TComponent*>(o)) {
            c->BeginLoading();
            loading_.push_back(c);
        }
    }

    void ReadChild(const TFormObject& desc, QObject* parent)
    {
        QObject* o = root_->findChild<QObject*>(QString::fromStdString(desc.name));
        if (!o) {
            TComponentFactory factory;
            {
                std::lock_guard lock(registryMutex);
                auto it = Factories().find(desc.className);
                if (it != Factories().end())
                    factory = it->second;
            }
            if (!factory)
                Fail(desc.line, "class " + desc.className + " not found");
            o = factory(root_);
            o->setObjectName(QString::fromStdString(desc.name));
        }
        Begin(o);
        Apply(o, desc);
        for (const auto& child : desc.children)
            ReadChild(child, o);
        (void)parent;
    }

    void Apply(QObject* o, const TFormObject& desc)
    {
        for (const auto& p : desc.properties) {
            QObject* target = o;
            std::string name = p.name;
            // A path sets a property of an object the component owns.
            size_t dot;
            while ((dot = name.find('.')) != std::string::npos) {
                QVariant sub = target->property(name.substr(0, dot).c_str());
                QObject* next = sub.value<QObject*>();
                if (!next)
                    Fail(p.line, "property " + p.name + " does not exist");
                target = next;
                name = name.substr(dot + 1);
            }
            SetProperty(target, name, p);
        }
    }

    void SetProperty(QObject* o, const std::string& name, const TFormProperty& p)
    {
        const QMetaObject* mo = o->metaObject();
        const int index = mo->indexOfProperty(name.c_str());
        if (index < 0) {
            // Events are not meta-properties: the component binds them.
            if (p.value.kind == TFormValue::Kind::Ident) {
                if (auto* c = qobject_cast<TComponent*>(o)) {
                    auto it = handlers_.find(p.value.text);
                    if (it == handlers_.end())
                        Fail(p.line, "no handler \"" + p.value.text + "\" for " + p.name);
                    if (c->SetEventByName(name, it->second))
                        return;
                }
            }
            Fail(p.line, "property " + p.name + " does not exist");
        }
        const QMetaProperty mp = mo->property(index);
        QVariant v;
        switch (p.value.kind) {
        case TFormValue::Kind::Integer:
            v = QVariant::fromValue(p.value.integer);
            break;
        case TFormValue::Kind::Boolean:
            v = p.value.boolean;
            break;
        case TFormValue::Kind::String:
            v = QString::fromStdString(p.value.text);
            break;
        case TFormValue::Kind::List: {
            QStringList lines;
            for (const auto& item : p.value.members)
                lines << QString::fromStdString(item);
            v = lines;
            break;
        }
        case TFormValue::Kind::Ident:
            if (mp.metaType().flags() & QMetaType::PointerToQObject) {
                fixups_.push_back({ o, mp.name(), p.value.text, p.line });
                return;
            }
            if (mp.isEnumType()) {
                v = QString::fromStdString(p.value.text);
            } else {
                int value = 0;
                if (!EnumMemberValue(p.value.text, value))
                    Fail(p.line, "invalid value " + p.value.text + " for " + p.name);
                v = value;
            }
            break;
        case TFormValue::Kind::Set:
            if (mp.isFlagType()) {
                std::string joined;
                for (const auto& m : p.value.members)
                    joined += (joined.empty() ? "" : "|") + m;
                v = QString::fromStdString(joined);
            } else {
                long long bits = 0;
                for (const auto& m : p.value.members) {
                    int value = 0;
                    if (!EnumMemberValue(m, value))
                        Fail(p.line, "invalid set member " + m + " for " + p.name);
                    bits |= 1ll << value;
                }
                v = QVariant::fromValue(bits);
            }
            break;
        }
        if (!mp.isWritable() || !v.convert(mp.metaType()) || !mp.write(o, v))
            Fail(p.line, "invalid value for " + p.name);
    }

    void SetReference(QObject* o, const QByteArray& property, QObject* target, int line)
    {
        const QMetaProperty mp = o->metaObject()->property(o->metaObject()->indexOfProperty(property));
        QVariant v = QVariant::fromValue(target);
        if (!v.convert(mp.metaType()) || !mp.write(o, v))
            Fail(line,
                "\"" + target->objectName().toStdString() + "\" does not fit property "
                    + property.toStdString());
    }

    QObject* root_;
    const THandlerTable& handlers_;
    std::vector<Fixup> fixups_;
    std::vector<TComponent*> loading_;
};

// Writing ---------------------------------------------------------------------------------

// Whether a class is the toolkit's own: its properties are not published
// by this library.
bool IsToolkitClass(const QMetaObject* m)
{
    return m->className()[0] == 'Q';
}

void DescribeProperties(
    QObject* o, const std::string& prefix, TFormObject& out, const THandlerTable& handlers)
{
    const QMetaObject* mo = o->metaObject();
    // The properties the library's classes declare, base classes first.
    const QMetaObject* top = mo;
    while (top->superClass() && !IsToolkitClass(top->superClass()))
        top = top->superClass();
    for (int i = top->propertyOffset(); i < mo->propertyCount(); ++i) {
        const QMetaProperty mp = mo->property(i);
        if (!mp.isStored())
            continue;
        const std::string name = prefix + mp.name();
        const QVariant v = mp.read(o);
        TFormValue value;
        if (mp.metaType().flags() & QMetaType::PointerToQObject) {
            QObject* ref = v.value<QObject*>();
            if (!ref)
                continue;
            if (ref->parent() == o && ref->objectName().isEmpty()) {
                DescribeProperties(ref, name + ".", out, handlers);
                continue;
            }
            value.kind = TFormValue::Kind::Ident;
            value.text = ref->objectName().toStdString();
        } else if (!mp.isWritable()) {
            continue;
        } else if (mp.isFlagType()) {
            value.kind = TFormValue::Kind::Set;
            const QByteArray keys = mp.enumerator().valueToKeys(v.toInt());
            for (const QByteArray& k : keys.split('|'))
                if (!k.isEmpty())
                    value.members.push_back(k.toStdString());
        } else if (mp.isEnumType()) {
            value.kind = TFormValue::Kind::Ident;
            value.text = mp.enumerator().valueToKey(v.toInt());
        } else if (v.metaType().id() == QMetaType::Bool) {
            value.kind = TFormValue::Kind::Boolean;
            value.boolean = v.toBool();
        } else if (v.metaType().id() == QMetaType::QStringList) {
            value.kind = TFormValue::Kind::List;
            for (const QString& line : v.toStringList())
                value.members.push_back(line.toStdString());
        } else if (v.metaType().id() == QMetaType::QString) {
            value.kind = TFormValue::Kind::String;
            value.text = v.toString().toStdString();
        } else if (v.canConvert<qlonglong>()) {
            value.integer = v.toLongLong();
        } else {
            continue;
        }
        out.properties.push_back({ name, value, 0 });
    }
    if (auto* c = qobject_cast<TComponent*>(o)) {
        for (const std::string& e : c->EventNames()) {
            for (const auto& [handlerName, handler] : handlers) {
                if (c->EventIs(e, handler)) {
                    TFormValue value;
                    value.kind = TFormValue::Kind::Ident;
                    value.text = handlerName;
                    out.properties.push_back({ prefix + e, value, 0 });
                    break;
                }
            }
        }
    }
}

} // namespace

TFormObject ParseForm(const std::string& text)
{
    return Parser(text).Parse();
}

std::string WriteFormText(const TFormObject& form)
{
    std::string out;
    WriteObject(form, 0, out);
    return out;
}

void RegisterComponentClass(const std::string& className, TComponentFactory factory)
{
    std::lock_guard lock(registryMutex);
    Factories()[className] = std::move(factory);
}

void RegisterEnumMembers(const std::vector<std::pair<std::string, int>>& members)
{
    std::lock_guard lock(registryMutex);
    for (const auto& [name, value] : members)
        EnumMembers()[name] = value;
}

bool EnumMemberValue(const std::string& name, int& value)
{
    std::lock_guard lock(registryMutex);
    auto it = EnumMembers().find(name);
    if (it == EnumMembers().end())
        return false;
    value = it->second;
    return true;
}

std::string EnumMemberName(const std::string& typePrefix, int value)
{
    std::lock_guard lock(registryMutex);
    for (const auto& [name, v] : EnumMembers())
        if (v == value && name.rfind(typePrefix, 0) == 0 && name.size() > typePrefix.size()
            && std::isupper(static_cast<unsigned char>(name[typePrefix.size()])))
            return name;
    return {};
}

void ReadForm(QObject* root, const TFormObject& desc, const THandlerTable& handlers)
{
    Reader(root, handlers).Read(desc);
}

TFormObject WriteForm(QObject* root, const std::string& className, const THandlerTable& handlers)
{
    TFormObject form;
    form.name = root->objectName().toStdString();
    form.className = className;
    // The components the form owns, then the library's controls wherever
    // they sit on it (a device box inside a group box, say).
    std::vector<QObject*> objects;
    for (QObject* child : root->children())
        if (qobject_cast<TComponent*>(child))
            objects.push_back(child);
    for (QObject* child : root->findChildren<QObject*>())
        if (!qobject_cast<TComponent*>(child) && child->isWidgetType()
            && !IsToolkitClass(child->metaObject()))
            objects.push_back(child);
    for (QObject* c : objects) {
        if (c->objectName().isEmpty())
            continue;
        TFormObject o;
        o.name = c->objectName().toStdString();
        o.className = c->metaObject()->className();
        DescribeProperties(c, "", o, handlers);
        form.children.push_back(std::move(o));
    }
    return form;
}
