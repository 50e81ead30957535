#pragma once

#include "core/desktop.h"

#include <QPointer>
#include <QWidget>

namespace kw {

// The real desktop: message boxes owned by the main window, sound, shell and progress windows.
class WidgetDesktop : public Desktop {
public:
    // owner: the main window, parent of the message boxes; may be null.
    explicit WidgetDesktop(QWidget* owner = nullptr);

    // A modal box with the caption, the text as plain text, the icon of the style's icon bits
    // (16 error, 32 question, 48 warning, 64 information) and OK, or Yes/No/Cancel for style 3.
    int ShowMessage(const QString& caption, const QString& text, int style) override;
    // The same box, modal to the main window alone, so the tray menu still opens.
    void AskMessage(const QString& caption, const QString& text, int style,
                    std::function<void(int answer)> answered) override;
    bool PlaySoundFile(int code, const QString& file) override;
    void ShellOpen(const QString& file, const QString& parameters) override;
    void OpenDocument(const QString& path) override;
    void OpenTextFile(const QString& path) override;
    std::unique_ptr<CopyProgress> CreateProgressWindow() override;

    void setOwner(QWidget* owner) { m_owner = owner; }

private:
    QWidget* boxParent() const;

    QPointer<QWidget> m_owner;
};

}  // namespace kw
