#pragma once
// File names are native bytes; the interface shows them decoded the way Qt decodes
// names, so a name that is not UTF-8 still shows and encodes back to the same bytes.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <string>

namespace fenwa::platform {

inline QString fromNative(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

} // namespace fenwa::platform
