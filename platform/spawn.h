#pragma once

#include <QString>
#include <QStringList>

namespace kw {

// Starts program with arguments in workingFolder, detached: it is no child of this process and
// outlives it. Paths and arguments reach the program as their own bytes, and no shell sees them.
// False when the program could not be started.
bool StartDetached(const QString& program, const QStringList& arguments,
                   const QString& workingFolder);

}  // namespace kw
