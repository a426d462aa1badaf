#include "zqformregistry_p.h"
#include "zqformstream.h"

#include <QMetaProperty>
#include <QVariant>

namespace zq::framework {

namespace {

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
            const TComponentFactory factory = FindComponentClass(desc.className);
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

} // namespace

void ReadForm(QObject* root, const TFormObject& desc, const THandlerTable& handlers)
{
    Reader(root, handlers).Read(desc);
}

} // namespace zq::framework
