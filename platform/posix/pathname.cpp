#include "platform/pathname.h"

#include "platform/textcodec.h"

#include <utility>

namespace kw {

PathName::PathName(QStringView text) : m_bytes(encodeLocal(text)) {}

PathName PathName::fromNative(QByteArray bytes) {
    PathName path;
    path.m_bytes = std::move(bytes);
    return path;
}

QString PathName::text() const {
    return decodeLocal(m_bytes);
}

PathName PathName::fileName() const {
    return fromNative(m_bytes.mid(m_bytes.lastIndexOf('/') + 1));
}

PathName PathName::parentFolder() const {
    return fromNative(m_bytes.left(m_bytes.lastIndexOf('/') + 1));
}

PathName PathName::folder() const {
    const qsizetype slash = m_bytes.lastIndexOf('/');
    return fromNative(m_bytes.left(slash <= 0 ? slash + 1 : slash));
}

PathName PathName::extension() const {
    const qsizetype dot = m_bytes.lastIndexOf('.');
    return dot < 0 ? PathName() : fromNative(m_bytes.mid(dot + 1));
}

PathName PathName::baseName() const {
    const QByteArray name = fileName().m_bytes;
    const qsizetype dot = name.lastIndexOf('.');
    return fromNative(dot > 0 ? name.left(dot) : name);
}

PathName PathName::asFolder() const {
    return m_bytes.endsWith('/') ? *this : fromNative(m_bytes + '/');
}

PathName PathName::joined(const PathName& name) const {
    return fromNative(asFolder().m_bytes + name.m_bytes);
}

PathName PathName::sibling(const PathName& name) const {
    return fromNative(parentFolder().m_bytes + name.m_bytes);
}

}  // namespace kw
