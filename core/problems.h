#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

namespace kw {

// A problem that stops files from moving until the user or the world changes something. The
// cycle reports the whole set whenever it changes; the tray and the notifications show it.
enum class ProblemKind {
    DestinationGone,          // the destination's file system is not mounted (a pulled stick)
    DestinationNotAnswering,  // a call into the destination has not returned for seconds
    NoSpace,                  // a file does not fit onto the destination
    NoQuota,                  // the user's disk quota on the destination is used up
    NoEntries,                // the destination's file system has no free file entries left
    NoPermission,             // the destination may not be written (permissions, read-only)
    NameRefused,              // the destination refuses a file's name (or its length, or size)
    SettingsUnreadable,       // a settings or list file exists but cannot be read
};

struct Problem {
    ProblemKind kind = ProblemKind::DestinationGone;
    QString subject;  // the folder or file it concerns, as the log names it
    // The watched folder of the pair it concerns, where there are several pairs; else empty.
    QString pair;
    bool operator==(const Problem&) const = default;
};

using Problems = QList<Problem>;

}  // namespace kw

Q_DECLARE_METATYPE(kw::Problem)
Q_DECLARE_METATYPE(kw::Problems)
