#pragma once

#include <QString>

#include <array>
#include <optional>

namespace kw {

struct AppData;
class EventLog;

// A peer-to-peer program to look for: the name listed while it runs and the class of one of its
// top-level windows.
struct P2PEntry {
    QString DisplayName;
    QString WindowClass;
};

// The three programs every run looks for; never saved, never edited.
const std::array<P2PEntry, 3>& BuiltInP2PEntries();

// A line of the user's list: display name, NUL, window class. A line without the NUL or with an
// empty name (an empty line left by hand editing, say) is no entry and is skipped.
std::optional<P2PEntry> ParseUserP2PEntry(const QString& line);
// The line for an entry; control characters become blanks so an entry stays on its one line.
QString UserP2PEntryText(const P2PEntry& entry);
// Window titles are outside text: line breaks, NULs and other control characters become blanks.
QString PlainCaption(const QString& caption);

// Writes UserP2PList to its file, whole, and logs that it does (and a failure).
void SaveUserP2PList(const AppData& data, EventLog& log);

}  // namespace kw
