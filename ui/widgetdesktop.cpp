#include "ui/widgetdesktop.h"

#include "platform/shell.h"
#include "platform/sound.h"
#include "ui/progbar.h"

#include <QMessageBox>

namespace kw {

namespace {

QMessageBox::Icon iconOf(int style) {
    switch (style & 0x70) {
        case MB_ICONERROR:
            return QMessageBox::Critical;
        case MB_ICONQUESTION:
            return QMessageBox::Question;
        case MB_ICONERROR | MB_ICONQUESTION:
            return QMessageBox::Warning;
        case MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

}  // namespace

WidgetDesktop::WidgetDesktop(QWidget* owner) : m_owner(owner) {}

int WidgetDesktop::ShowMessage(const QString& caption, const QString& text, int style) {
    // Centred over the main window when it is shown; in the tray it would place the box
    // over a window the user cannot see.
    QWidget* parent = m_owner && m_owner->isVisible() ? m_owner.data() : nullptr;
    QMessageBox box(parent);
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(iconOf(style));
    const bool yesNoCancel = (style & 0x0F) == MB_YESNOCANCEL;
    if (yesNoCancel) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.exec();
    switch (box.standardButton(box.clickedButton())) {
        case QMessageBox::Yes:
            return IDYES;
        case QMessageBox::No:
            return IDNO;
        case QMessageBox::Cancel:
            return IDCANCEL;
        case QMessageBox::Ok:
            return IDOK;
        default:
            return yesNoCancel ? IDCANCEL : IDOK;
    }
}

bool WidgetDesktop::PlaySoundFile(int code, const QString& file) {
    return kw::PlaySoundFile(code, file);
}

void WidgetDesktop::ShellOpen(const QString& file, const QString& parameters) {
    kw::ShellOpen(file, parameters);
}

void WidgetDesktop::OpenDocument(const QString& path) {
    kw::OpenDocument(path);
}

void WidgetDesktop::OpenTextFile(const QString& path) {
    OpenTextFileInViewer(path);
}

std::unique_ptr<CopyProgress> WidgetDesktop::CreateProgressWindow() {
    return std::make_unique<ProgBar>();
}

}  // namespace kw
