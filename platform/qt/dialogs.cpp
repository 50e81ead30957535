#include "platform/dialogs.h"

#include "platform/fs.h"
#include "platform/shell.h"

#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>

namespace kw {

namespace {

QString startFolder() {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    return fs::isDirectory(desktop) ? desktop : QDir::homePath();
}

}  // namespace

QString BrowseForFolder(QWidget* owner, const QString& title) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder());
}

QString BrowseForFile(QWidget* owner, const QString& filter) {
    const bool program = filter.compare(QLatin1String("*.exe"), Qt::CaseInsensitive) == 0;
    QFileDialog dialog(owner, QStringLiteral("Öffnen"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (program) {
        // Programs have no extension here: list executable files only, which the
        // desktop's own dialog cannot be told to do.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setNameFilter(QStringLiteral("Programme (*)"));
        dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    } else if (filter.compare(QLatin1String("*.wav"), Qt::CaseInsensitive) == 0) {
        dialog.setNameFilter(QStringLiteral("Wave-Dateien (*.wav)"));
    } else if (!filter.isEmpty()) {
        dialog.setNameFilter(QStringLiteral("Dateien (%1)").arg(filter));
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return {};
    // A typed name can still name a plain file; only a program may be a task.
    if (program && !IsProgramFile(chosen.first()))
        return {};
    return chosen.first();
}

}  // namespace kw
