#include "ui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace kw {

bool speaksGerman(const QStringList& uiLanguages) {
    for (const QString& language : uiLanguages) {
        const QString code =
            language.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0);
        if (code == QLatin1String("C") || code == QLatin1String("POSIX") ||
            code.compare(QLatin1String("de"), Qt::CaseInsensitive) == 0)
            return true;
        if (code.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return false;
}

Language::Language(const QStringList& uiLanguages) {
    const bool german = speaksGerman(uiLanguages);
    // The German texts are the ones in the code; English is built into the program.
    if (!german && m_program.load(QStringLiteral(":/kopierwart/i18n/kopierwart_en.qm")))
        QCoreApplication::installTranslator(&m_program);
    // Qt speaks English by itself.
    if (german &&
        m_qt.load(QStringLiteral("qtbase_de"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&m_qt);
}

Language::~Language() {
    QCoreApplication::removeTranslator(&m_program);
    QCoreApplication::removeTranslator(&m_qt);
}

}  // namespace kw
