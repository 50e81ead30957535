#include "tests/support/qtapp.h"

#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>

namespace kw::test {

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char* argv[] = {const_cast<char*>("kopierwart-test"), nullptr};
    new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
}

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    for (const QDeadlineTimer deadline(timeoutMs); !condition(); QThread::msleep(10)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
    }
    return true;
}

QStringList itemTexts(const QListWidget* list) {
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts.append(list->item(row)->text());
    return texts;
}

void chooseInNextFileDialog(const QString& name) {
    onNextModal<QFileDialog>([name](QFileDialog* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);
        // A dialog that refuses the name warns and stays: then the test answers "Abbrechen".
        QTimer warning;
        QObject::connect(&warning, &QTimer::timeout, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                box->reject();
        });
        warning.start(10);
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
        if (dialog->isVisible())
            dialog->reject();
    });
}

}  // namespace kw::test
