#pragma once
// The store file's format: a JSON document with one object per root key.
// Each key holds "values" (an array, in value order) and "keys" (an object
// of subkeys by name). A value is {"name", "type", and its data as one of
// "text" (a string value without its NUL), "dword" or "hex"}.
#include "registrytree_p.h"

#include <QByteArray>
#include <QString>

namespace zq::registry {

QByteArray EncodeTree(const RegTree& tree);

// Fills tree from a document; on failure returns false with the reason in
// *error and leaves tree in an unspecified state.
bool DecodeTree(const QByteArray& document, RegTree& tree, QString* error);

} // namespace zq::registry
