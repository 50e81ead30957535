#pragma once

#include <QString>

// Opening things the way a double click on the desktop would. Failures are silent: the callers
// have nothing to report them to.
namespace kw {

// A regular file (links followed) that this user may execute.
bool IsProgramFile(const QString& path);

// A program runs detached with parameters split into arguments (quotes group, no shell ever
// sees them), in its own folder. A file, folder or address (scheme:..., e.g. https: or mailto:)
// opens with the desktop's default handler; parameters are not used for those.
void ShellOpen(const QString& file, const QString& parameters);

// The file with the program the desktop associates with its type, never run as a program itself.
// The path reaches the desktop's opener as its own bytes, as one argument, through no shell.
void OpenDocument(const QString& path);

// The folder in the desktop's file manager.
void OpenFolder(const QString& path);

// The text file in the desktop's default text viewer; the path stays one argument.
void OpenTextFileInViewer(const QString& path);

}  // namespace kw
