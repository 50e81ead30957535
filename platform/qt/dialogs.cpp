#include "platform/dialogs.h"

#include "platform/fs.h"
#include "platform/shell.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>
#include <QStandardPaths>

namespace kw {

namespace {

// Folders and the files this user may execute. The file dialog's own executable filter hides
// every entry, folders included.
class ProgramFilter : public QSortFilterProxyModel {
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || (info.isFile() && info.isExecutable());
    }
};

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
        dialog.setProxyModel(new ProgramFilter(&dialog));
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
