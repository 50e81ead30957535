#include "platform/pathname.h"

#include <gtest/gtest.h>

using namespace kw;

namespace {

PathName bytes(const char* path) {
    return PathName::fromNative(path);
}

}  // namespace

TEST(PathName, CutsAtTheBytesSlashAndDot) {
    struct Row {
        const char* path;
        const char* fileName;
        const char* parentFolder;
        const char* folder;
        const char* extension;
        const char* baseName;
    };
    const Row rows[] = {
        {"/in/movie.part.avi", "movie.part.avi", "/in/", "/in", "avi", "movie.part"},
        {"/in/README", "README", "/in/", "/in", "", "README"},
        {"/my.dir/README", "README", "/my.dir/", "/my.dir", "dir/README", "README"},
        {"/in/name.", "name.", "/in/", "/in", "", "name"},
        {"/in/.hidden", ".hidden", "/in/", "/in", "hidden", ".hidden"},
        {"/out/", "", "/out/", "/out", "", ""},
        {"/", "", "/", "/", "", ""},
        {"/root.txt", "root.txt", "/", "/", "txt", "root"},
        {"a.avi", "a.avi", "", "", "avi", "a"},
        {"", "", "", "", "", ""},
        {"/\xff\xfe.d/n\xe9.\xc3", "n\xe9.\xc3", "/\xff\xfe.d/", "/\xff\xfe.d", "\xc3", "n\xe9"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        const PathName path = bytes(row.path);
        EXPECT_EQ(path.fileName(), bytes(row.fileName));
        EXPECT_EQ(path.parentFolder(), bytes(row.parentFolder));
        EXPECT_EQ(path.folder(), bytes(row.folder));
        EXPECT_EQ(path.extension(), bytes(row.extension));
        EXPECT_EQ(path.baseName(), bytes(row.baseName));
        EXPECT_EQ(PathName(path.text()), path);
    }
}

TEST(PathName, JoinsWithOneSlash) {
    EXPECT_EQ(bytes("/out").joined(bytes("a\xff")), bytes("/out/a\xff"));
    EXPECT_EQ(bytes("/out/").joined(bytes("a")), bytes("/out/a"));
    EXPECT_EQ(bytes("").asFolder(), bytes("/"));
    EXPECT_EQ(bytes("/out/log").sibling(bytes(".log.spare")), bytes("/out/.log.spare"));
    EXPECT_EQ(bytes("log").sibling(bytes(".log.spare")), bytes(".log.spare"));
}
