#include "platform/dialogs.h"

#include "platform/fs.h"
#include "platform/qtboundary.h"
#include "platform/shell.h"

#include <QCoreApplication>
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
        const QString path = pathFromQt(files->filePath(files->index(row, 0, parent)));
        return fs::isDirectory(path) || IsProgramFile(path);
    }
};

// Qt decodes names lossily and refuses a chosen name it cannot find under its own spelling. This
// dialog takes the answer's bytes instead (qtboundary.h) and accepts what they name.
class ByteExactFileDialog : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    // The accepted folder or file; empty when the answer names nothing of the wanted kind.
    QString chosen() const {
        const QList<QUrl> urls = selectedUrls();
        const QString path = urls.isEmpty() ? QString() : pathFromUrl(urls.first());
        return isWanted(path) ? path : QString();
    }

protected:
    void accept() override {
        if (isWanted(chosen()))
            QDialog::accept();
        else
            QFileDialog::accept();  // Qt's own handling: enters a folder, warns about a typo
    }

private:
    bool isWanted(const QString& path) const {
        if (path.isEmpty())
            return false;
        const auto facts = fs::factsFollowingLinks(path);
        const fs::Kind wanted = fileMode() == Directory ? fs::Kind::Directory : fs::Kind::Regular;
        return facts && facts->kind == wanted;
    }
};

QString startFolder() {
    const QString desktop =
        pathFromQt(QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
    return fs::isDirectory(desktop) ? desktop : homeFolder();
}

}  // namespace

QString BrowseForFolder(QWidget* owner, const QString& title) {
    ByteExactFileDialog dialog(owner, title);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setDirectoryUrl(urlFromPath(startFolder()));
    return dialog.exec() == QDialog::Accepted ? dialog.chosen() : QString();
}

QString BrowseForFile(QWidget* owner, const QString& filter) {
    const bool program = filter.compare(QLatin1String("*.exe"), Qt::CaseInsensitive) == 0;
    ByteExactFileDialog dialog(owner, QCoreApplication::translate("kw::Dialogs", "Öffnen"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (program) {
        // Programs have no extension here: list executable files only, which the
        // desktop's own dialog cannot be told to do.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setNameFilter(QCoreApplication::translate("kw::Dialogs", "Programme (*)"));
        dialog.setProxyModel(new ProgramFilter(&dialog));
    } else if (filter.compare(QLatin1String("*.wav"), Qt::CaseInsensitive) == 0) {
        dialog.setNameFilter(QCoreApplication::translate("kw::Dialogs", "Wave-Dateien (*.wav)"));
    } else if (!filter.isEmpty()) {
        dialog.setNameFilter(
            QCoreApplication::translate("kw::Dialogs", "Dateien (%1)").arg(filter));
    }
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QString chosen = dialog.chosen();
    // A typed name can still name a plain file; only a program may be a task.
    if (program && !IsProgramFile(chosen))
        return {};
    return chosen;
}

}  // namespace kw
