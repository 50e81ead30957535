#include "platform/dialogs.h"
#include "platform/fs.h"
#include "platform/qtboundary.h"
#include "platform/textcodec.h"
#include "tests/support/qtapp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace kw;

namespace {

// Names that are not UTF-8: Latin-1 letters as an older system or a foreign disk writes them.
struct QtBoundary : ::testing::Test {
    void SetUp() override { test::ensureApplication(); }
    // QTemporaryDir cannot remove names that Qt cannot spell.
    void TearDown() override { QProcess::execute(QStringLiteral("rm"), {"-rf", dir.path()}); }

    // The path of bytes under the temporary folder, with its escapes.
    QString make(const QByteArray& relative, bool folder) const {
        const QString path = decodeLocal(root() + relative);
        EXPECT_EQ(folder ? fs::makePath(path) : fs::replaceAtomically(path, "x"), 0);
        return path;
    }
    QByteArray root() const { return encodeLocal(dir.path()) + '/'; }
    // How Qt itself spells a path of these bytes.
    static QString qtSpelling(const QString& path) { return QFile::decodeName(encodeLocal(path)); }

    QTemporaryDir dir;
};

TEST_F(QtBoundary, NamesThatLookAlikeToQtOrAreMissingNeverAnswerAnotherFile) {
    // Found again by its bytes at every level.
    make("Caf\xE9/Bl\xFCten", true);
    const QString file = make("Caf\xE9/Bl\xFCten/Gr\xFC\xDF.txt", false);
    EXPECT_EQ(encodeLocal(pathFromQt(qtSpelling(file))), encodeLocal(file));

    make("Caf\xE8", true);
    EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + "Caf\xE9"))), QString());
    EXPECT_EQ(pathFromQt(qtSpelling(decodeLocal(root() + "Fehlt\xE9"))), QString());
}

TEST_F(QtBoundary, DialogsAnswerTheChosenFolderAndSoundWithTheirBytes) {
    const QString folder = make("Eing\xE4nge", true);
    const QString sound = make("Kl\xE4ng.wav", false);
    // Qt's list leaves out names it cannot decode; the user types the name as Qt spells it.
    test::chooseInNextFileDialog(qtSpelling(folder));
    EXPECT_EQ(encodeLocal(BrowseForFolder(nullptr, "Ordner")), encodeLocal(folder));
    test::chooseInNextFileDialog(qtSpelling(sound));
    EXPECT_EQ(encodeLocal(BrowseForFile(nullptr, "*.wav")), encodeLocal(sound));
}

}  // namespace
