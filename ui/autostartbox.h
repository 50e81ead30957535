#pragma once

#include <QRect>

class QCheckBox;
class QWidget;

namespace kw {

class Desktop;
class EventLog;

// The main window's check box "Autostart": checked while the user's autostart folder holds the
// program's entry; ticking it writes the entry for the running executable, unticking removes it.
QCheckBox* makeAutostartBox(QWidget* parent, const QRect& geometry, EventLog& log,
                            Desktop& desktop);

}  // namespace kw
