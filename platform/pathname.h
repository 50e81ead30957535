#pragma once

#include <QByteArray>
#include <QString>

namespace kw {

// A path as the bytes the system knows it by. Its parts are cut at the bytes "/" and ".", which
// never occur inside a longer character, so a name that is not valid UTF-8 keeps its bytes
// through every step; the text form crosses the boundary through textcodec.h.
class PathName {
public:
    PathName() = default;
    explicit PathName(QStringView text);
    static PathName fromNative(QByteArray bytes);

    const QByteArray& native() const { return m_bytes; }
    QString text() const;
    bool isEmpty() const { return m_bytes.isEmpty(); }

    // After the last "/"; the whole path without one; empty when it ends with "/".
    PathName fileName() const;
    // Up to and with the last "/", so a path ending with "/" is its own; empty without "/".
    PathName parentFolder() const;
    // The parent without its trailing "/", "/" itself for a name in the root; empty without "/".
    PathName folder() const;
    // After the last "." of the whole path (so "/my.dir/README" gives "dir/README"); empty when
    // there is none or the path ends with ".".
    PathName extension() const;
    // The file name without its last "." and what follows; a name whose only dot leads it (a
    // hidden file) stays whole.
    PathName baseName() const;
    // With "/" after it unless it ends with one; the empty path gives "/".
    PathName asFolder() const;
    // name inside this folder.
    PathName joined(const PathName& name) const;
    // name in the folder that holds this path; name alone for a bare name.
    PathName sibling(const PathName& name) const;

    friend bool operator==(const PathName&, const PathName&) = default;

private:
    QByteArray m_bytes;
};

}  // namespace kw
