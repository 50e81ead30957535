// The program's own files (settings, lists) are replaced whole: at every writing call of a
// replacement the old file still stands whole under its name, and a reader, or a kill at any of
// those calls, never meets a half-written file.
#include "platform/fs.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scanrig.h"
#include "tests/support/tracedcalls.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

TEST(Replacing, AtEveryWritingCallTheOldFileStandsWholeUnderItsName) {
    if (::geteuid() != 0)
        KW_CANNOT_RUN("strace attached to the test needs root");
    QTemporaryDir dir;
    const QString path = dir.path() + "/Kopierwart.ini";
    const QByteArray old = patternBytes(300'000);
    const QByteArray fresh = patternBytes(2'000'000).right(400'000);
    ASSERT_EQ(fs::replaceAtomically(path, old), 0);

    const QString calls = "openat,creat,write,pwrite64,writev,ftruncate,fsync,fdatasync,rename,"
                          "renameat,renameat2";
    QStringList seenHalf;
    int checked = 0;
    bool renamed = false;
    auto tracer = std::make_unique<TracedCalls>(calls, QStringList{calls + ":delay_enter=100000"});
    if (!tracer->why().isEmpty())
        KW_CANNOT_RUN(tracer->why().toStdString());
    tracer->onEveryCall([&](const QString& call) {
        if (renamed)
            return;  // the new file has its name from here on
        ++checked;
        if (bytesOf(path) != old)
            seenHalf.append(call);
        renamed = call.contains("rename");
    });
    EXPECT_EQ(fs::replaceAtomically(path, fresh), 0);
    tracer.reset();  // every call's action has run
    EXPECT_TRUE(renamed) << "no rename seen";
    EXPECT_GE(checked, 3);
    EXPECT_EQ(seenHalf, QStringList()) << "the file was not whole at these calls";
    EXPECT_EQ(bytesOf(path), fresh);
}

}  // namespace
