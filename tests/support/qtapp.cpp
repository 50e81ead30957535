#include "tests/support/qtapp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QThread>
#include <QTimer>

namespace kw::test {

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kopierwart-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

QStringList itemTexts(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

void onNextModal(std::function<bool(QWidget*)> matches, std::function<void(QWidget*)> answer) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, matches, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !matches(modal))
            return;
        // Stopped first: the answer may sit in an exec() of its own.
        poll->stop();
        poll->deleteLater();
        answer(modal);
    });
    poll->start(10);
}

void chooseInNextFileDialog(const QString& name) {
    onNextModal<QFileDialog>([name](QFileDialog* dialog) {
        // Rejects whatever is modal while the dialog lives: its refusal, then the dialog itself.
        auto* giveUp = new QTimer(dialog);
        QObject::connect(giveUp, &QTimer::timeout, [] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                modal->reject();
        });
        giveUp->start(200);
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
}

}  // namespace kw::test
