#pragma once

#include <QString>

#include <functional>
#include <memory>

namespace kw {

// Message box styles and answers, numbered as the program has always used them.
enum MessageStyle {
    MB_OK = 0,
    MB_YESNOCANCEL = 3,
    MB_ICONERROR = 16,
    MB_ICONQUESTION = 32,
    MB_ICONINFORMATION = 64
};
enum MessageAnswer { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

// The progress window of one copy.
class CopyProgress {
public:
    virtual ~CopyProgress() = default;
    // Prepares the range and the caption and shows the window centred, on top of all others.
    virtual void SetOption(qint64 minimum, qint64 maximum, const QString& caption,
                           bool showBar) = 0;
    virtual void SetValue(qint64 value) = 0;
    virtual void SetMessage(const QString& message) = 0;
};

// What the program's logic asks of the desktop. The windows implement it for real; tests record.
class Desktop {
public:
    virtual ~Desktop() = default;
    // A modal message box owned by the main window; answers the button pressed.
    virtual int ShowMessage(const QString& caption, const QString& text, int style) = 0;
    // The same message as a question that does not hold up the caller: answered later receives
    // the button pressed. Meanwhile the tray and the other windows go on.
    virtual void AskMessage(const QString& caption, const QString& text, int style,
                            std::function<void(int answer)> answered) {
        answered(ShowMessage(caption, text, style));
    }
    // code 0 stop, 1 play, 2 pause, 3 play; true when the player took the command.
    virtual bool PlaySoundFile(int code, const QString& file) = 0;
    // Runs a program or opens a file, folder or address with the desktop's default handler.
    virtual void ShellOpen(const QString& file, const QString& parameters) = 0;
    // Opens a file with the program the desktop associates with its type; never runs it.
    virtual void OpenDocument(const QString& path) = 0;
    // Opens a text file in the desktop's text viewer.
    virtual void OpenTextFile(const QString& path) = 0;
    // A new progress window for one copy, hidden until SetOption.
    virtual std::unique_ptr<CopyProgress> CreateProgressWindow() = 0;
};

}  // namespace kw
