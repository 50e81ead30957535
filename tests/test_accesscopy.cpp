#include "platform/accesscopy.h"
#include "platform/filecopy.h"
#include "platform/textcodec.h"
#include "tests/support/cannotrun.h"
#include "tests/support/scratchfs.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kw;
using namespace kw::test;

namespace {

using Type = ScratchFileSystem::Type;
constexpr char kAcl[] = "system.posix_acl_access";
constexpr char kOrigin[] = "user.xdg.origin.url";

void makeFile(const QString& path, unsigned mode) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("download");
    file.close();
    ASSERT_EQ(::chmod(encodeLocal(path).constData(), mode), 0);
}

// Through the tool a user would take, so the list is the kernel's own, not one this test built.
void setAcl(const QString& path, const QStringList& arguments) {
    QProcess setfacl;
    setfacl.setProcessChannelMode(QProcess::MergedChannels);
    setfacl.start("setfacl", arguments + QStringList{path});
    ASSERT_TRUE(setfacl.waitForFinished(10'000)) << "setfacl (package acl) did not run";
    ASSERT_EQ(setfacl.exitCode(), 0) << setfacl.readAll().toStdString();
}

std::string attribute(const QString& path, const char* name) {
    char value[4096];
    const ssize_t n = ::getxattr(encodeLocal(path).constData(), name, value, sizeof value);
    return n < 0 ? std::string("<none>") : std::string(value, size_t(n));
}

void setAttribute(const QString& path, const char* name, const std::string& value) {
    ASSERT_EQ(::setxattr(encodeLocal(path).constData(), name, value.data(), value.size(), 0), 0)
        << name << ": " << std::strerror(errno);
}

unsigned modeOf(const QString& path) {
    struct stat st {};
    return ::stat(encodeLocal(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sources on a tmpfs, which keeps access lists and user attributes; copies on the file systems
// each test makes beside it.
class AccessCopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        m_source = ScratchFileSystem::make(Type::Tmpfs, m_dir.path() + "/source", 4 << 20, &m_why);
        if (!m_source)
            KW_CANNOT_RUN(m_why.toStdString());
    }
    std::unique_ptr<ScratchFileSystem> mount(Type type, const QString& name) {
        return ScratchFileSystem::make(type, m_dir.path() + "/" + name, 32 << 20, &m_why);
    }
    QString source(const QString& name) const { return m_source->mountPoint() + "/" + name; }
    // Copies source through a staged copy, as a move does, into folder.
    fs::AccessCopy stagedCopy(const QString& from, const QString& folder) {
        fs::StagedCopy copy;
        EXPECT_TRUE(copy.begin(from, folder).ok());
        EXPECT_TRUE(copy.copy(copy.sourceSize()).ok());
        EXPECT_TRUE(copy.commit(from.section('/', -1)).ok());
        return copy.access();
    }

    QTemporaryDir m_dir;
    QString m_why;
    std::unique_ptr<ScratchFileSystem> m_source;
};

TEST_F(AccessCopyTest, ACopyKeepsTheAccessListAndUserAttributesButNoSystemOnes) {
    auto to = mount(Type::Tmpfs, "to");
    if (!to)
        KW_CANNOT_RUN(m_why.toStdString());
    // The group is shut out, though the mode shows it may read: the mask is r.
    const QString file = source("private.bin");
    makeFile(file, 0640);
    setAcl(file, {"-m", "u:nobody:r,g::---"});
    ASSERT_EQ(modeOf(file), 0640u);
    setAttribute(file, kOrigin, "https://example.org/private.bin");
    setAttribute(file, "trusted.kopierwart-test", "secret");

    EXPECT_EQ(stagedCopy(file, to->mountPoint()), fs::AccessCopy::Kept);
    const QString copy = to->mountPoint() + "/private.bin";
    EXPECT_EQ(attribute(copy, kAcl), attribute(file, kAcl));
    EXPECT_NE(attribute(copy, kAcl), "<none>");
    EXPECT_EQ(modeOf(copy), 0640u);
    EXPECT_EQ(attribute(copy, kOrigin), "https://example.org/private.bin");
    EXPECT_EQ(attribute(copy, "trusted.kopierwart-test"), "<none>");
}

// Where the list cannot go, the mode must grant nobody more than the list did: a named user or
// group without an entry on the copy falls into the group or the other class. A ramfs keeps modes
// but no extended attributes.
TEST_F(AccessCopyTest, WithoutAccessListsTheCopyGetsAModeNoWiderThanTheList) {
    auto noAcl = mount(Type::Ramfs, "noacl");
    if (!noAcl)
        KW_CANNOT_RUN(m_why.toStdString());
    struct Case {
        const char* name;
        unsigned mode;
        QStringList setfacl;
        unsigned shown;     // the mode the source shows with its list
        unsigned expected;  // the copy's mode
    };
    const Case cases[] = {
        {"group shut out", 0640, {"-m", "u:nobody:r,g::---"}, 0640, 0600},
        {"named user shut out", 0644, {"-m", "u:nobody:---"}, 0644, 0600},
        {"named group shut out", 0644, {"-m", "g:nogroup:---"}, 0644, 0640},
        {"named user may write", 0644, {"-m", "u:nobody:rw"}, 0664, 0644},
        {"mask shuts out all", 0644, {"-n", "-m", "u:nobody:rwx,m::---"}, 0604, 0600},
        {"no list", 0644, {}, 0644, 0644},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = source(c.name);
        makeFile(file, c.mode);
        if (!c.setfacl.isEmpty())
            setAcl(file, c.setfacl);
        ASSERT_EQ(modeOf(file), c.shown);
        setAttribute(file, kOrigin, c.name);

        const QString copy = noAcl->mountPoint() + "/" + c.name;
        const int from = ::open(encodeLocal(file).constData(), O_RDONLY | O_CLOEXEC);
        const int to = ::open(encodeLocal(copy).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(from, 0);
        ASSERT_GE(to, 0);
        int error = -1;
        const fs::AccessCopy result = fs::copyAccess(from, to, c.shown, &error);
        ::close(from);
        ::close(to);
        EXPECT_EQ(error, 0);
        EXPECT_EQ(result, c.setfacl.isEmpty() ? fs::AccessCopy::AttributesDropped
                                              : fs::AccessCopy::AclReplacedByMode);
        EXPECT_EQ(modeOf(copy), c.expected);
    }
}

}  // namespace
