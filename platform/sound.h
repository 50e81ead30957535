#pragma once

#include <QString>

// Sound: the user's wave file after a copy, and the desktop's sounds for named system events.
namespace kw {

// code 0 stop, 1 play, 2 pause, 3 play; any other code is refused. Asynchronous: returns at
// once. True when the player took the command; a missing, empty or unplayable file gives false.
bool PlaySoundFile(int code, const QString& file);

// Decided from the file itself (a RIFF/WAVE header with a PCM or float "fmt " chunk and a "data"
// chunk), not from a sound device, so a machine without audio output still accepts a good file.
bool CanPlaySoundFile(const QString& file);

// index names an event 0..16 ("SystemQuestion" ... "SystemAsterisk" (12) ... "SystemStart").
// Starts the event's desktop sound without waiting; a plain beep when the desktop has no
// sound or no player for it. False for an index outside 0..16, with nothing played.
bool PlaySystemSound(int index);

void SleepMs(int milliseconds);

}  // namespace kw
