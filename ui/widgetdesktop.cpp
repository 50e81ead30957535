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

// A box with the caption, the text, the icon and the buttons of style.
void prepare(QMessageBox& box, const QString& caption, const QString& text, int style) {
    box.setWindowTitle(caption);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setIcon(iconOf(style));
    if ((style & 0x0F) == MB_YESNOCANCEL) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
}

int answerOf(const QMessageBox& box, int style) {
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
            return (style & 0x0F) == MB_YESNOCANCEL ? IDCANCEL : IDOK;
    }
}

}  // namespace

WidgetDesktop::WidgetDesktop(QWidget* owner) : m_owner(owner) {}

QWidget* WidgetDesktop::boxParent() const {
    // Centred over the main window when it is shown; in the tray it would place the box
    // over a window the user cannot see.
    return m_owner && m_owner->isVisible() ? m_owner.data() : nullptr;
}

int WidgetDesktop::ShowMessage(const QString& caption, const QString& text, int style) {
    QMessageBox box(boxParent());
    prepare(box, caption, text, style);
    box.exec();
    return answerOf(box, style);
}

void WidgetDesktop::AskMessage(const QString& caption, const QString& text, int style,
                               std::function<void(int answer)> answered) {
    auto* box = new QMessageBox(boxParent());
    prepare(*box, caption, text, style);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(
        box, &QMessageBox::finished, box,
        [box, style, answered = std::move(answered)] { answered(answerOf(*box, style)); });
    box->show();
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
