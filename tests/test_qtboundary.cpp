#include "platform/dialogs.h"
#include "platform/fs.h"
#include "platform/qtboundary.h"
#include "platform/textcodec.h"
#include "tests/support/qtapp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/stat.h>

using namespace kw;

namespace {

// Names that are not UTF-8: Latin-1 letters as an older system or a foreign disk writes them.
class QtBoundary : public ::testing::Test {
protected:
    void SetUp() override { test::ensureApplication(); }
    // QTemporaryDir cannot remove names that Qt cannot spell.
    void TearDown() override { QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()}); }

    // The path of bytes under the temporary folder, with its escapes.
    QString make(const QByteArray& relative, bool folder) const {
        const QString path = decodeLocal(root() + relative);
        const int error = folder ? fs::makePath(path) : fs::replaceAtomically(path, "x");
        EXPECT_EQ(error, 0) << relative.toStdString();
        return path;
    }
    QByteArray root() const { return encodeLocal(dir.path()) + '/'; }
    // How Qt itself spells a path of these bytes.
    QString qtSpelling(const QString& path) const { return QFile::decodeName(encodeLocal(path)); }

    QTemporaryDir dir;
};

TEST_F(QtBoundary, QtsSpellingOfANameIsFoundAgainByItsBytesAtEveryLevel) {
    make("Caf\xE9/Bl\xFCten", true);
    const QString file = make(
        "Caf\xE9/Bl\xFCten/Gr\xFC\xDF"
        "e.txt",
        false);
    ASSERT_NE(qtSpelling(file), file);
    EXPECT_EQ(encodeLocal(pathFromQt(qtSpelling(file))), encodeLocal(file));

    // Names Qt spells right pass unchanged, also when they do not exist yet.
    const QString fresh = dir.path() + "/neu/Ärger.txt";
    EXPECT_EQ(pathFromQt(fresh), fresh);
}

TEST_F(QtBoundary, NamesThatLookAlikeToQtOrAreMissingNeverAnswerAnotherFile) {
    make("Caf\xE9", true);
    make("Caf\xE8", true);
    EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + "Caf\xE9"))), QString());
    EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + "Fehlt\xE9"))), QString());

    // A name that really holds U+FFFD is itself while alone, and doubtful beside a look-alike.
    const QString literal = make("Ersatz\xEF\xBF\xBD", true);
    EXPECT_EQ(pathFromQt(literal), literal);
    make("Ersatz\xA0", true);
    EXPECT_EQ(pathFromQt(literal), QString());
}

TEST_F(QtBoundary, FileUrlsCarryTheBytesBothWays) {
    const QString folder = make("Fotos \xE9t\xE9 #1", true);
    const QUrl url = urlFromPath(folder);
    EXPECT_EQ(QByteArray::fromPercentEncoding(url.toEncoded().mid(int(sizeof("file://") - 1))),
              encodeLocal(folder));
    EXPECT_EQ(pathFromUrl(url), folder);
    // Qt's own URL of its lossy spelling, as its file dialog answers.
    EXPECT_EQ(pathFromUrl(QUrl::fromLocalFile(qtSpelling(folder))), folder);
    EXPECT_EQ(pathFromUrl(QUrl(QStringLiteral("https://www.example.org/a"))), QString());
}

// Chooses name in the file dialog that the call opens, as a user would, and answers what the
// call returned. A dialog that refuses the name is given up, so the call returns.
QString chooseInDialog(const QString& folder, const QString& qtName,
                       const std::function<QString()>& call) {
    QTimer giveUp;
    QObject::connect(&giveUp, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal))
            box->reject();
        else if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
    });
    QTimer user;
    user.setSingleShot(true);
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dialog) {
            user.start();
            return;
        }
        dialog->setDirectoryUrl(urlFromPath(folder));
        // Qt's list leaves out names it cannot decode; the user types the name as Qt spells it.
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(qtName);
        giveUp.start(200);
        static_cast<QDialog*>(dialog)->accept();  // as the dialog's own button does
    });
    user.start(20);
    return call();
}

TEST_F(QtBoundary, DialogsAnswerTheChosenFolderProgramAndSoundWithTheirBytes) {
    const QString folder = make("Eing\xE4nge", true);
    const QString program = make("Pr\xF6gramm", false);
    ASSERT_EQ(::chmod(encodeLocal(program).constData(), 0755), 0);
    const QString sound = make("Kl\xE4ng.wav", false);
    const auto qtName = [this](const QString& path) {
        return qtSpelling(path).mid(dir.path().size() + 1);
    };

    EXPECT_EQ(encodeLocal(chooseInDialog(dir.path(), qtName(folder),
                                         [] { return BrowseForFolder(nullptr, "Ordner"); })),
              encodeLocal(folder));
    EXPECT_EQ(encodeLocal(chooseInDialog(dir.path(), qtName(program),
                                         [] { return BrowseForFile(nullptr, "*.Exe"); })),
              encodeLocal(program));
    EXPECT_EQ(encodeLocal(chooseInDialog(dir.path(), qtName(sound),
                                         [] { return BrowseForFile(nullptr, "*.wav"); })),
              encodeLocal(sound));
}

}  // namespace
