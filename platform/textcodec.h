#pragma once

#include <QByteArray>
#include <QString>

namespace kw {

// Linux file names and our data files are bytes, normally UTF-8. A byte that is not part of
// valid UTF-8 is carried in a QString as the lone surrogate U+DC00 + byte ("surrogate escape"),
// so a name read from disk turns back into exactly the same bytes when it is opened, renamed,
// deleted or written into a list file.
QString decodeLocal(QByteArrayView bytes);
QByteArray encodeLocal(QStringView text);

}  // namespace kw
