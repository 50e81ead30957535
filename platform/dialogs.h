#pragma once

#include <QString>

class QWidget;

// The platform's file and folder choosers. Both answer empty text when the user cancels.
namespace kw {

// Opens at the desktop folder (the home folder when there is none).
QString BrowseForFolder(QWidget* owner, const QString& title);

// filter is one name pattern such as "*.wav" (letter case ignored). "*.Exe" asks for a program:
// programs on this platform carry no extension, so folders and executable files are offered and
// only an executable regular file is accepted (a typed name of anything else answers empty text).
QString BrowseForFile(QWidget* owner, const QString& filter);

}  // namespace kw
