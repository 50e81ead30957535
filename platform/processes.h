#pragma once

#include <QList>
#include <QStringList>

namespace kw {

// One snapshot of the running processes: for every process the bare file names it is known by,
// each once, with its process id at the same index in ids. A process is known by the name of
// its executable, of its argv[0], and, when it runs a script (an interpreter whose first
// argument that is not an option names an existing file), by the script's name, so that a
// program that is a shell script counts as running while its interpreter runs it.
// False, with both lists empty, when the snapshot cannot be taken.
bool EnumRunningProcesses(QStringList& names, QList<qint64>& ids);

}  // namespace kw
