#include "ui/frmprefix.h"

#include "core/settings.h"
#include "ui/controls.h"
#include "ui/filtertextinput.h"

#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace kw {
namespace {

constexpr qint32 kRed = 0x000000FF;
constexpr qint32 kWhite = 0x00FFFFFF;

constexpr FilterOptions kExtensionInput{.allowLowerCase = true,
                                        .allowUpperCase = false,
                                        .allowBlank = false,
                                        .helpOnF1 = true,
                                        .setTooltip = true};

}  // namespace

FrmPrefix::FrmPrefix(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow)
    : ListEditorWindow(data, log, desktop, mainWindow,
                       {&AppData::BlockedExtensions, &Settings::BlockedExtensionsFile,
                        QStringLiteral("Writing Prefixes...")}) {
    setObjectName(QStringLiteral("frmPrefix"));
    setWindowTitle(tr(" Gesperrte Endungen"));
    setFixedSize(330, 340);

    auto* label = new QLabel(tr("Dateien, die eine gesperrte Endung enthalten, werden "
                                "übergangen und nicht kopiert."),
                             this);
    label->setObjectName(QStringLiteral("Label1"));
    label->setWordWrap(true);
    label->setGeometry(10, 6, 310, 36);
    SetTextColor(label, kWhite);

    auto* frame = new QGroupBox(this);
    frame->setObjectName(QStringLiteral("Frame1"));
    frame->setGeometry(10, 46, 310, 240);
    m_textInput = new QLineEdit(frame);
    m_textInput->setObjectName(QStringLiteral("TextInput"));
    m_textInput->setGeometry(10, 12, 186, 26);
    m_textInput->installEventFilter(this);
    m_butAdd = makeButton(frame, QStringLiteral("ButAdd"), tr("Hinzufügen"), {202, 12, 98, 26});
    m_butAdd->setEnabled(false);
    connect(m_butAdd, &QPushButton::clicked, this, &FrmPrefix::ButAdd_Click);
    connect(m_textInput, &QLineEdit::textChanged, this, &FrmPrefix::TextInput_Change);
    // Enter adds what was typed, as the button beside the field would.
    connect(m_textInput, &QLineEdit::returnPressed, this, [this] {
        if (m_butAdd->isEnabled())
            ButAdd_Click();
    });

    createCommonControls(frame, kRed, QStringLiteral("mnuPrefix"), tr("Endung"),
                         tr("Eintrag entfernen"));
    m_lbt->setGeometry(10, 46, 290, 184);
    m_butOK->setGeometry(10, 296, 150, 32);
    m_butCancel->setGeometry(170, 296, 150, 32);
}

void FrmPrefix::Form_Load() {
    m_textInput->clear();
    m_butAdd->setEnabled(false);
    ListEditorWindow::Form_Load();
    m_textInput->setFocus();
}

void FrmPrefix::ButAdd_Click() {
    const QString extension = m_textInput->text();
    m_textInput->clear();
    if (!extension.isEmpty())
        addLine(extension);
}

void FrmPrefix::TextInput_KeyDown(int& keyCode) {
    FilterTextInput(m_textInput, FilterMode::Key, keyCode, kExtensionInput, m_desktop);
}

void FrmPrefix::TextInput_Change() {
    int noKey = 0;
    FilterTextInput(m_textInput, FilterMode::Change, noKey, kExtensionInput, m_desktop);
    m_butAdd->setEnabled(!m_textInput->text().isEmpty());
}

bool FrmPrefix::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_textInput || event->type() != QEvent::KeyPress)
        return ListEditorWindow::eventFilter(watched, event);
    const auto* press = static_cast<QKeyEvent*>(event);
    int keyCode = KeyCodeOf(press);
    const int pressed = keyCode;
    TextInput_KeyDown(keyCode);
    if (pressed == vbKeyEscape || (pressed == vbKeyF1 && kExtensionInput.helpOnF1))
        return true;
    // A cancelled key loses its own action (Home, End, Insert...); a key that types a character
    // or a shortcut such as paste goes on, and the change handler filters what it brings.
    const bool typesOrShortcut =
        !press->text().isEmpty() || press->modifiers().testFlag(Qt::ControlModifier);
    return keyCode == 0 && !typesOrShortcut;
}

}  // namespace kw
