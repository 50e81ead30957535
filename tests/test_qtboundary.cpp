#include "platform/dialogs.h"
#include "platform/fs.h"
#include "platform/qtboundary.h"
#include "platform/textcodec.h"
#include "tests/support/qtapp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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
    static QString qtSpelling(const QString& path) { return QFile::decodeName(encodeLocal(path)); }

    QTemporaryDir dir;
};

TEST_F(QtBoundary, NamesThatLookAlikeToQtOrAreMissingNeverAnswerAnotherFile) {
    // Found again by its bytes at every level; names Qt spells right pass, existing or not.
    make("Caf\xE9/Bl\xFCten", true);
    const QString file = make("Caf\xE9/Bl\xFCten/Gr\xFC\xDF.txt", false);
    ASSERT_NE(qtSpelling(file), file);
    EXPECT_EQ(encodeLocal(pathFromQt(qtSpelling(file))), encodeLocal(file));
    EXPECT_EQ(pathFromQt(dir.path() + "/neu/Ärger.txt"), dir.path() + "/neu/Ärger.txt");

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
    EXPECT_EQ(QByteArray::fromPercentEncoding(url.toEncoded().mid(7)), encodeLocal(folder));
    EXPECT_EQ(pathFromUrl(url), folder);
    // Qt's own URL of its lossy spelling, as its file dialog answers.
    EXPECT_EQ(pathFromUrl(QUrl::fromLocalFile(qtSpelling(folder))), folder);
    EXPECT_EQ(pathFromUrl(QUrl(QStringLiteral("https://www.example.org/a"))), QString());
}

TEST_F(QtBoundary, DialogsAnswerTheChosenFolderProgramAndSoundWithTheirBytes) {
    const QString folder = make("Eing\xE4nge", true);
    const QString program = make("Pr\xF6gramm", false);
    ASSERT_EQ(::chmod(encodeLocal(program).constData(), 0755), 0);
    const QString sound = make("Kl\xE4ng.wav", false);
    // Qt's list leaves out names it cannot decode; the user types the name as Qt spells it.
    test::chooseInNextFileDialog(qtSpelling(folder));
    EXPECT_EQ(encodeLocal(BrowseForFolder(nullptr, "Ordner")), encodeLocal(folder));
    test::chooseInNextFileDialog(qtSpelling(program));
    EXPECT_EQ(encodeLocal(BrowseForFile(nullptr, "*.Exe")), encodeLocal(program));
    test::chooseInNextFileDialog(qtSpelling(sound));
    EXPECT_EQ(encodeLocal(BrowseForFile(nullptr, "*.wav")), encodeLocal(sound));
}

}  // namespace
