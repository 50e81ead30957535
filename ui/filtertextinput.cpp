#include "ui/filtertextinput.h"

#include "core/desktop.h"
#include "core/files.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace kw {
namespace {

constexpr char kOnlyAlphanumeric[] = QT_TRANSLATE_NOOP(
    "kw::FilterTextInput", "In diesem Eingabefeld sind nur Alphanumerische Eingaben zulässig.");

QString allowedCharacters(const FilterOptions& options) {
    QString allowed;
    if (options.allowLowerCase)
        allowed += QLatin1String("abcdefghijklmnopqrstuvwxyz");
    if (options.allowUpperCase)
        allowed += QLatin1String("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    if (options.allowBlank)
        allowed += QLatin1Char(' ');
    return allowed;
}

void showHelp(const QString& allowed, bool allowBlank, Desktop& desktop) {
    const QString crLf = kCrLfText;
    QString text =
        QCoreApplication::translate("kw::FilterTextInput", kOnlyAlphanumeric) + crLf + crLf +
        QCoreApplication::translate("kw::FilterTextInput", "Folgende Zeichen sind erlaubt:") +
        crLf + crLf + allowed + crLf;
    if (allowBlank)
        text += QCoreApplication::translate("kw::FilterTextInput", "Sowie Freizeichen") + crLf;
    text += crLf +
            QCoreApplication::translate("kw::FilterTextInput", "ESC löscht das Eingabefeld.") +
            crLf;
    desktop.ShowMessage(QCoreApplication::translate("kw::FilterTextInput", "Eingabefeld Hilfe"),
                        text, MB_ICONINFORMATION);
}

}  // namespace

bool FilterTextInput(QLineEdit* field, FilterMode mode, int& keyCode, const FilterOptions& options,
                     Desktop& desktop) {
    if (!field)
        return false;
    if (options.setTooltip) {
        field->setToolTip(QCoreApplication::translate("kw::FilterTextInput", kOnlyAlphanumeric) +
                          (options.helpOnF1 ? QCoreApplication::translate("kw::FilterTextInput",
                                                                          " (F1 für Hilfe)")
                                            : QString()));
    }
    const QString allowed = allowedCharacters(options);
    if (mode == FilterMode::Key) {
        if (keyCode == vbKeyBack || keyCode == vbKeyReturn || keyCode == vbKeyDelete ||
            (keyCode >= vbKeyLeft && keyCode <= vbKeyDown))
            return true;
        if (keyCode == vbKeyEscape) {
            field->clear();
        } else if (keyCode == vbKeyF1 && options.helpOnF1) {
            showHelp(allowed, options.allowBlank, desktop);
        } else if (keyCode <= 0 || keyCode > 0xFFFF || !allowed.contains(QChar(keyCode))) {
            keyCode = 0;
        }
        return true;
    }
    const QString text = field->text();
    QString kept;
    kept.reserve(text.size());
    for (QChar c : text) {
        if (allowed.contains(c))
            kept += c;
    }
    if (kept != text) {
        field->setText(kept);
        field->setCursorPosition(int(kept.size()));
    }
    return true;
}

int KeyCodeOf(const QKeyEvent* event) {
    const int key = event->key();
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return key;
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return vbKeyF1 + (key - Qt::Key_F1);
    switch (key) {
        case Qt::Key_Backspace:
            return vbKeyBack;
        case Qt::Key_Tab:
            return 9;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            return vbKeyReturn;
        case Qt::Key_Shift:
            return 16;
        case Qt::Key_Control:
            return 17;
        case Qt::Key_Alt:
            return 18;
        case Qt::Key_Escape:
            return vbKeyEscape;
        case Qt::Key_Space:
            return 32;
        case Qt::Key_PageUp:
            return 33;
        case Qt::Key_PageDown:
            return 34;
        case Qt::Key_End:
            return 35;
        case Qt::Key_Home:
            return 36;
        case Qt::Key_Left:
            return vbKeyLeft;
        case Qt::Key_Up:
            return 38;
        case Qt::Key_Right:
            return 39;
        case Qt::Key_Down:
            return vbKeyDown;
        case Qt::Key_Insert:
            return 45;
        case Qt::Key_Delete:
            return vbKeyDelete;
        default:
            return 0;
    }
}

}  // namespace kw
