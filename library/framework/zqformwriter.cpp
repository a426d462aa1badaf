#include "zqformstream.h"

#include <QMetaProperty>
#include <QVariant>

namespace zq::framework {

namespace {

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

} // namespace zq::framework
