#include "registryformat_p.h"

#include "registry.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace zq::registry {

namespace {

constexpr int kFormatVersion = 1;
const QLatin1String kFormatTag("zqregistry");

// Strings are kept readable when they decode back to the same bytes: one
// terminating NUL, none inside, valid UTF-8.
bool IsPlainText(const QByteArray& data)
{
    if (data.isEmpty() || data.back() != '\0')
        return false;
    const QByteArray body = data.left(data.size() - 1);
    if (body.contains('\0'))
        return false;
    return QString::fromUtf8(body).toUtf8() == body;
}

QJsonObject EncodeValue(const RegValue& v)
{
    QJsonObject o;
    o.insert("name", QString::fromStdString(v.name));
    o.insert("type", qint64(v.type));
    if ((v.type == REG_SZ || v.type == REG_EXPAND_SZ) && IsPlainText(v.data)) {
        o.insert("text", QString::fromUtf8(v.data.left(v.data.size() - 1)));
    } else if (v.type == REG_DWORD && v.data.size() == 4) {
        const auto* b = reinterpret_cast<const uchar*>(v.data.constData());
        o.insert("dword", qint64(DWORD(b[0]) | DWORD(b[1]) << 8 | DWORD(b[2]) << 16 | DWORD(b[3]) << 24));
    } else {
        o.insert("hex", QString::fromLatin1(v.data.toHex()));
    }
    return o;
}

QJsonObject EncodeKey(const RegKey& key)
{
    QJsonArray values;
    for (const RegValue& v : key.values)
        values.append(EncodeValue(v));
    QJsonObject subkeys;
    for (const auto& [fold, sub] : key.subkeys)
        subkeys.insert(QString::fromStdString(sub->name), EncodeKey(*sub));
    QJsonObject o;
    o.insert("values", values);
    o.insert("keys", subkeys);
    return o;
}

bool IsHexText(const QString& s)
{
    if (s.size() % 2 != 0)
        return false;
    for (QChar c : s) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
            return false;
    }
    return true;
}

bool DecodeValue(const QJsonValue& jv, RegKey& key, QString* error)
{
    if (!jv.isObject()) {
        *error = QStringLiteral("a value is not an object");
        return false;
    }
    const QJsonObject o = jv.toObject();
    const QJsonValue name = o.value("name");
    const QJsonValue type = o.value("type");
    const double typeNumber = type.toDouble(-1);
    if (!name.isString() || !type.isDouble() || typeNumber < 0 || typeNumber > double(0xFFFFFFFFu)
        || typeNumber != double(qint64(typeNumber))) {
        *error = QStringLiteral("a value has no valid name or type");
        return false;
    }
    QByteArray data;
    if (o.value("text").isString()) {
        data = o.value("text").toString().toUtf8();
        data.append('\0');
    } else if (o.value("dword").isDouble()) {
        const double d = o.value("dword").toDouble();
        if (d < 0 || d > double(0xFFFFFFFFu) || d != double(qint64(d))) {
            *error = QStringLiteral("a DWORD value is out of range");
            return false;
        }
        const auto n = DWORD(qint64(d));
        const char bytes[4]
            = { char(n & 0xFF), char(n >> 8 & 0xFF), char(n >> 16 & 0xFF), char(n >> 24 & 0xFF) };
        data = QByteArray(bytes, 4);
    } else if (o.value("hex").isString() && IsHexText(o.value("hex").toString())) {
        data = QByteArray::fromHex(o.value("hex").toString().toLatin1());
    } else {
        *error = QStringLiteral("value \"%1\" has no valid data").arg(name.toString());
        return false;
    }
    const std::string valueName = name.toString().toStdString();
    if (key.findValue(valueName)) {
        *error = QStringLiteral("value \"%1\" appears twice").arg(name.toString());
        return false;
    }
    key.setValue(valueName, DWORD(qint64(typeNumber)), std::move(data));
    return true;
}

bool DecodeKey(const QJsonValue& jv, RegKey& key, QString* error)
{
    if (!jv.isObject()) {
        *error = QStringLiteral("a key is not an object");
        return false;
    }
    const QJsonObject o = jv.toObject();
    const QJsonValue values = o.value("values");
    const QJsonValue subkeys = o.value("keys");
    if (!(values.isArray() || values.isUndefined()) || !(subkeys.isObject() || subkeys.isUndefined())) {
        *error = QStringLiteral("a key has malformed values or subkeys");
        return false;
    }
    for (const QJsonValue& v : values.toArray()) {
        if (!DecodeValue(v, key, error))
            return false;
    }
    const QJsonObject subs = subkeys.toObject();
    for (auto it = subs.begin(); it != subs.end(); ++it) {
        const std::string subName = it.key().toStdString();
        const QByteArray fold = FoldName(subName);
        if (subName.empty() || subName.find('\\') != std::string::npos || key.findSubkey(fold)) {
            *error = QStringLiteral("subkey name \"%1\" is invalid or appears twice").arg(it.key());
            return false;
        }
        if (!DecodeKey(it.value(), *key.addSubkey(subName, fold), error))
            return false;
    }
    return true;
}

} // namespace

QByteArray EncodeTree(const RegTree& tree)
{
    QJsonObject top;
    top.insert(kFormatTag, kFormatVersion);
    for (int i = 0; i < RootCount; ++i)
        top.insert(QLatin1String(kRootNames[i]), EncodeKey(tree.roots[i]));
    return QJsonDocument(top).toJson(QJsonDocument::Indented);
}

bool DecodeTree(const QByteArray& document, RegTree& tree, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(document, &parseError);
    if (doc.isNull()) {
        *error = QStringLiteral("%1 at offset %2").arg(parseError.errorString()).arg(parseError.offset);
        return false;
    }
    if (!doc.isObject() || doc.object().value(kFormatTag).toInt(-1) != kFormatVersion) {
        *error = QStringLiteral("not a registry store of format version %1").arg(kFormatVersion);
        return false;
    }
    const QJsonObject top = doc.object();
    for (int i = 0; i < RootCount; ++i) {
        const QJsonValue root = top.value(QLatin1String(kRootNames[i]));
        if (root.isUndefined())
            continue;
        if (!DecodeKey(root, tree.roots[i], error))
            return false;
    }
    return true;
}

} // namespace zq::registry
