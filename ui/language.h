#pragma once

#include <QLocale>
#include <QStringList>
#include <QTranslator>

namespace kw {

// Whether the desktop's languages, best first, ask for the German texts the program is written
// in: German before English, or the C and POSIX locales. Every other desktop reads English.
bool speaksGerman(const QStringList& uiLanguages);

// The program's texts, and Qt's own dialogs and buttons, in the language the desktop asks for,
// as long as this lives.
class Language {
public:
    // By default the languages the desktop asks for, best first ("C" under the C and POSIX
    // locales).
    explicit Language(const QStringList& uiLanguages = QLocale::system().uiLanguages());
    ~Language();
    Language(const Language&) = delete;
    Language& operator=(const Language&) = delete;

private:
    QTranslator m_program;
    QTranslator m_qt;
};

}  // namespace kw
