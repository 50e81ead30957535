#pragma once

#include "ui/listeditorwindow.h"

class QLineEdit;

namespace kw {

// The editor of the blocked extensions: lower-case letters only, one extension per line. The
// scan cycle passes over files with a listed extension from its next pass on.
class FrmPrefix : public ListEditorWindow {
    Q_OBJECT

public:
    FrmPrefix(AppData& data, EventLog& log, Desktop& desktop, QWidget* mainWindow);

    // Handlers, public so that tests drive them as a click would.
    void ButAdd_Click();

protected:
    void Form_Load() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void TextInput_KeyDown(int& keyCode);
    void TextInput_Change();

    QLineEdit* m_textInput = nullptr;
    QPushButton* m_butAdd = nullptr;
};

}  // namespace kw
