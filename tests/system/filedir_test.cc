// Tests of the file and directory functions: predicates, MakeDir/ReadDir/RemoveDir,
// removal and its log line, links, sizes, CopyFile, MapFileRead/MapFileWrite and their
// failure paths.  Every test works in its own scratch directory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Sfiledir.h"
#include "TempDir.h"

namespace {

std::vector<std::string> Sorted(const SStringList& l) {
    std::vector<std::string> out;
    l.ForEach([&](const SString& s) { out.push_back(Str(s)); });
    std::sort(out.begin(), out.end());
    return out;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

// Captures what is written to std::clog while it lives.
class ClogCapture {
public:
    ClogCapture() : old(std::clog.rdbuf(buffer.rdbuf())) {}
    ~ClogCapture() { std::clog.rdbuf(old); }
    std::string Text() const { return buffer.str(); }

private:
    std::ostringstream buffer;
    std::streambuf* old;
};

}  // namespace

TEST(FileDir, Predicates) {
    TempDir dir;
    dir.Write("plain", "x");
    ::chmod(dir.Path("plain").c_str(), 0644);
    dir.Write("script", "#!/bin/sh\n");
    ::chmod(dir.Path("script").c_str(), 0755);

    EXPECT_TRUE(FileExists(dir.S("plain")));
    EXPECT_TRUE(IsRegular(dir.S("plain")));
    EXPECT_FALSE(IsDirectory(dir.S("plain")));
    EXPECT_TRUE(IsReadable(dir.S("plain")));
    EXPECT_TRUE(IsWriteable(dir.S("plain")));
    EXPECT_FALSE(IsExecutable(dir.S("plain")) && !RunningAsRoot());
    EXPECT_TRUE(IsExecutable(dir.S("script")));
    EXPECT_TRUE(IsDirectory(dir.S()));
    EXPECT_FALSE(IsRegular(dir.S()));

    for (const SString& missing : {dir.S("missing"), SString(), SString("")}) {
        EXPECT_FALSE(FileExists(missing));
        EXPECT_FALSE(IsReadable(missing));
        EXPECT_FALSE(IsRegular(missing));
        EXPECT_FALSE(IsDirectory(missing));
    }
    // A zero byte inside a path never shortens it to an existing name.
    std::string withZero = dir.Path("plain") + std::string(1, '\0') + "tail";
    EXPECT_FALSE(FileExists(SString(withZero.data(), static_cast<int>(withZero.size()))));
    // Paths that are windows onto a larger buffer (not zero-terminated) still work.
    std::string padded = dir.Path("plain") + "XYZ";
    SFixedString view(padded.data(), static_cast<int>(padded.size()) - 3);
    {
        SString windowed(view);
        EXPECT_TRUE(IsRegular(windowed));
    }
}

TEST(FileDir, PathAndFileFromFilename) {
    struct Row {
        const char* path;
        const char* dir;
        const char* file;
    } rows[] = {
        {"name", ".", "name"},    {"/a/b", "/a", "b"},  {"a/b/c", "a/b", "c"},
        {"a/b/", "a/b", ""},      {"/a", ".", "a"},     {"", ".", ""},
        {"./x", ".", "x"},        {"//a//b", "//a/", "b"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Str(PathFromFilename(row.path)), row.dir) << row.path;
        EXPECT_EQ(Str(FileFromFilename(row.path)), row.file) << row.path;
    }
}

TEST(FileDir, MakeDirRelativeAbsoluteAndExisting) {
    TempDir dir;
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_TRUE(Chdir(dir.S()));

    EXPECT_TRUE(MakeDir("a/b/c", 0755));
    EXPECT_TRUE(IsDirectory("./a") && IsDirectory("./a/b") && IsDirectory("./a/b/c"));
    EXPECT_TRUE(MakeDir("p/q/", 0755));  // trailing slash: the same as without
    EXPECT_TRUE(IsDirectory("p/q"));
    EXPECT_TRUE(MakeDir("a/b/c", 0755));  // exists: true at once
    EXPECT_TRUE(MakeDir("a//b//d", 0755));  // doubled slashes are harmless
    EXPECT_TRUE(IsDirectory("a/b/d"));
    EXPECT_FALSE(MakeDir("", 0755));
    EXPECT_FALSE(MakeDir(SString(), 0755));

    // A regular file in the way makes it fail, and nothing beneath it is made.
    dir.Write("file", "x");
    EXPECT_FALSE(MakeDir("file/sub", 0755));
    EXPECT_FALSE(MakeDir("file", 0755));

    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_TRUE(MakeDir(dir.S("abs/x/y"), 0700));  // absolute: built from the root
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("abs/x/y").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(FileDir, ChdirAndCreateDirectory) {
    TempDir dir;
    char cwd[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_TRUE(CreateDirectory(dir.S("one"), 0755));
    EXPECT_FALSE(CreateDirectory(dir.S("one"), 0755));      // exists
    EXPECT_FALSE(CreateDirectory(dir.S("no/such"), 0755));  // one level only
    dir.Write("file", "x");
    EXPECT_FALSE(Chdir(dir.S("file")));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(Chdir(dir.S("missing")));
    ASSERT_TRUE(Chdir(dir.S("one")));
    char now[PATH_MAX];
    ASSERT_NE(::getcwd(now, sizeof now), nullptr);
    EXPECT_EQ(Str(RealPath(dir.S("one"))), now);
    EXPECT_EQ(Str(RealPath(dir.S("one/../one/."))), now);
    EXPECT_EQ(Str(RealPath(dir.S("one/missing/x"))), dir.Path("one/missing/x"));  // as given
    ASSERT_EQ(::chdir(cwd), 0);
}

TEST(FileDir, ReadDir) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectory(dir.S("d"), 0755));
    dir.Write("d/x", "");
    dir.Write("d/y", "");
    std::vector<std::string> expected = {dir.Path("d/x"), dir.Path("d/y")};

    EXPECT_EQ(Sorted(ReadDir(dir.S("d"))), expected);
    EXPECT_EQ(Sorted(ReadDir(dir.S("d/"))), expected);
    std::string doubled = dir.Path() + "//d//";
    EXPECT_EQ(Sorted(ReadDir(SString(doubled.c_str()))), expected);

    ASSERT_TRUE(CreateDirectory(dir.S("empty"), 0755));
    SStringList none = ReadDir(dir.S("empty"));
    EXPECT_TRUE(none.Defined());
    EXPECT_EQ(none.Count(), 0);

    EXPECT_FALSE(ReadDir(dir.S("missing")).Defined());
    EXPECT_FALSE(ReadDir(dir.S("d/x")).Defined());  // not a directory
    EXPECT_FALSE(ReadDir("").Defined());
    EXPECT_FALSE(ReadDir(SString()).Defined());
}

TEST(FileDir, RemoveDirAndRemoveFile) {
    TempDir dir;
    ASSERT_TRUE(CreateDirectory(dir.S("d"), 0755));
    dir.Write("f", "x");
    EXPECT_FALSE(RemoveFile(dir.S("d")));  // never a directory
    EXPECT_EQ(errno, EISDIR);
    EXPECT_TRUE(IsDirectory(dir.S("d")));
    EXPECT_FALSE(RemoveDir(dir.S("f")));   // never a file
    EXPECT_TRUE(FileExists(dir.S("f")));
    EXPECT_TRUE(RemoveDir(dir.S("d/")));   // one trailing slash is ignored
    EXPECT_FALSE(FileExists(dir.S("d")));
    EXPECT_FALSE(RemoveDir(dir.S("d")));

    ASSERT_TRUE(CreateDirectory(dir.S("full"), 0755));
    dir.Write("full/inside", "");
    EXPECT_FALSE(RemoveDir(dir.S("full")));  // rmdir refuses a non-empty directory

    EXPECT_TRUE(RemoveFile(dir.S("f")));
    EXPECT_FALSE(FileExists(dir.S("f")));
    EXPECT_FALSE(RemoveFile(dir.S("f")));
    EXPECT_EQ(errno, ENOENT);
}

namespace {

// Checks one logged removal failure: "<14 digits><zone>:Test-Module:ERROR:Couldn't
// remove file <path>:<error text>" and a line feed, nothing else.
void ExpectRemovalLogged(const std::string& path) {
    ClogCapture log;
    EXPECT_FALSE(RemoveFileLogged(SString(path.c_str())));
    int err = errno;
    std::string line = log.Text();
    ASSERT_GT(line.size(), 19u);
    EXPECT_EQ(line.find_first_not_of("0123456789"), 14u);
    EXPECT_TRUE(line[14] == '+' || line[14] == '-');
    EXPECT_EQ(line.substr(19), ":Test-Module:ERROR:Couldn't remove file " + path + ":" +
                                   std::strerror(err) + "\n");
    EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
}

}  // namespace

TEST(FileDir, RemoveFileLoggedWritesOneLineOnlyForAnExistingFile) {
    TempDir dir;
    ::setenv("ModuleName", "Test-Module", 1);
    {
        ClogCapture log;
        dir.Write("gone", "x");
        EXPECT_TRUE(RemoveFileLogged(dir.S("gone")));
        EXPECT_FALSE(RemoveFileLogged(dir.S("gone")));  // missing: false, silent
        ASSERT_TRUE(CreateDirectory(dir.S("d"), 0755));
        EXPECT_FALSE(RemoveFileLogged(dir.S("d")));     // a directory: silent too
        EXPECT_EQ(log.Text(), "");
    }
    // Files of the process file system are regular files nobody may remove, root
    // included.
    ExpectRemovalLogged("/proc/self/status");
    if (!RunningAsRoot()) {
        ASSERT_TRUE(CreateDirectory(dir.S("locked"), 0755));
        dir.Write("locked/stuck", "x");
        ::chmod(dir.Path("locked").c_str(), 0555);
        ExpectRemovalLogged(dir.Path("locked/stuck"));
        EXPECT_TRUE(FileExists(dir.S("locked/stuck")));
    }
    ::unsetenv("ModuleName");
}

TEST(FileDir, RenameAndLinkFile) {
    TempDir dir;
    dir.Write("a", "content");
    EXPECT_TRUE(Rename(dir.S("a"), dir.S("b")));
    EXPECT_FALSE(FileExists(dir.S("a")));
    EXPECT_EQ(dir.Read("b"), "content");
    EXPECT_FALSE(Rename(dir.S("a"), dir.S("c")));

    EXPECT_TRUE(LinkFile(dir.S("b"), dir.S("c")));
    struct stat sb, sc;
    ASSERT_EQ(::stat(dir.Path("b").c_str(), &sb), 0);
    ASSERT_EQ(::stat(dir.Path("c").c_str(), &sc), 0);
    EXPECT_EQ(sb.st_ino, sc.st_ino);
    EXPECT_EQ(sb.st_nlink, 2u);
    EXPECT_FALSE(LinkFile(dir.S("b"), dir.S("c")));  // target exists
    ASSERT_TRUE(CreateDirectory(dir.S("d"), 0755));
    EXPECT_FALSE(LinkFile(dir.S("d"), dir.S("e")));
    EXPECT_FALSE(FileExists(dir.S("e")));
}

TEST(FileDir, SizeAgeAndFreeSpace) {
    TempDir dir;
    dir.Write("five", "12345");
    dir.Write("empty", "");
    EXPECT_EQ(FileSize(dir.S("five")), 5);
    EXPECT_EQ(FileSize(dir.S("empty")), 0);
    EXPECT_EQ(FileSize(dir.S()), -1);  // not a regular file
    EXPECT_EQ(FileSize(dir.S("missing")), -1);

    struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 2 * 86400 - 43200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.Path("five").c_str(), times, 0), 0);
    EXPECT_NEAR(FileAge(dir.S("five")), 2.5, 0.01);
    EXPECT_NEAR(FileAge(dir.S("empty")), 0.0, 0.01);
    EXPECT_EQ(FileAge(dir.S("missing")), -1.0);

    double space = FreeDiskSpace(dir.S());
    EXPECT_GE(space, 0.0);
    struct statvfs fs;
    ASSERT_EQ(::statvfs(dir.Path().c_str(), &fs), 0);
    EXPECT_NEAR(space, static_cast<double>(fs.f_frsize) * fs.f_bavail,
                64.0 * 1024 * 1024);  // other tests write meanwhile
    EXPECT_EQ(FreeDiskSpace(dir.S("missing/deeper")), -1.0);
}

TEST(FileDir, CopyFile) {
    TempDir dir;
    std::string big(20480 * 3 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    dir.Write("src", big);
    ::chmod(dir.Path("src").c_str(), 04751);

    EXPECT_TRUE(CopyFile(dir.S("src"), dir.S("dst"), 0));
    EXPECT_EQ(dir.Read("dst"), big);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);  // set-user-id cleared
    EXPECT_EQ(st.st_uid, ::geteuid());

    dir.Write("empty", "");
    EXPECT_TRUE(CopyFile(dir.S("empty"), dir.S("empty-copy"), 1));
    EXPECT_EQ(FileSize(dir.S("empty-copy")), 0);

    dir.Write("old", "previous content that is longer");
    EXPECT_TRUE(CopyFile(dir.S("empty"), dir.S("old"), 0));  // an existing target is replaced
    EXPECT_EQ(dir.Read("old"), "");

    EXPECT_FALSE(CopyFile(dir.S("missing"), dir.S("x"), 0));
    EXPECT_FALSE(FileExists(dir.S("x")));
    EXPECT_FALSE(CopyFile(dir.S("src"), dir.S("no/such/dir"), 0));
    // A directory reads as an error at the first read: the partial target is removed.
    ASSERT_TRUE(CreateDirectory(dir.S("d"), 0755));
    EXPECT_FALSE(CopyFile(dir.S("d"), dir.S("from-dir"), 0));
    EXPECT_FALSE(FileExists(dir.S("from-dir")));
}

TEST(FileDir, MapFileReadTellsMissingFromEmpty) {
    TempDir dir;
    dir.Write("empty", "");
    std::string bytes("a\0b\r\nc", 6);
    dir.Write("bytes", bytes);

    SString missing = MapFileRead(dir.S("missing"));
    EXPECT_FALSE(missing.Defined());
    SString empty = MapFileRead(dir.S("empty"));
    EXPECT_TRUE(empty.Defined());
    EXPECT_EQ(empty.Length(), 0);
    EXPECT_FALSE(MapFileRead(dir.S()).Defined());  // a directory
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(MapFileRead("").Defined());
    EXPECT_FALSE(MapFileRead(SString()).Defined());
    EXPECT_FALSE(MapFileRead("/dev/null").Defined());  // not a regular file

    SString text = MapFileRead(dir.S("bytes"));
    EXPECT_EQ(Str(text), bytes);
    EXPECT_EQ(text.Chars()[text.Length()], 0);  // an owned copy, zero-terminated

    if (!RunningAsRoot()) {
        ::chmod(dir.Path("bytes").c_str(), 0);
        EXPECT_FALSE(MapFileRead(dir.S("bytes")).Defined());
    }
}

TEST(FileDir, MapFileWriteReplacesContent) {
    TempDir dir;
    std::string bytes("x\0y\n", 4);
    EXPECT_TRUE(MapFileWrite(dir.S("f"), SString(bytes.data(), 4)));
    EXPECT_EQ(dir.Read("f"), bytes);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("f").c_str(), &st), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0660u & ~mask);

    EXPECT_TRUE(MapFileWrite(dir.S("f"), "short"));  // a longer file is cut to size
    EXPECT_EQ(dir.Read("f"), "short");
    EXPECT_TRUE(MapFileWrite(dir.S("f"), ""));       // an empty text empties the file
    EXPECT_TRUE(FileExists(dir.S("f")));
    EXPECT_EQ(FileSize(dir.S("f")), 0);
    EXPECT_TRUE(MapFileWrite(dir.S("g"), SString()));  // undefined text: an empty file
    EXPECT_EQ(FileSize(dir.S("g")), 0);

    std::string big(1 << 20, 'q');
    big[12345] = '\n';
    EXPECT_TRUE(MapFileWrite(dir.S("big"), SString(big.data(), static_cast<int>(big.size()))));
    EXPECT_EQ(Str(MapFileRead(dir.S("big"))), big);
}

TEST(FileDir, MapFileWriteFailuresLeaveNoFile) {
    TempDir dir;
    EXPECT_FALSE(MapFileWrite("", "text"));
    EXPECT_FALSE(MapFileWrite(SString(), "text"));

    // The parent is a regular file: open fails, nothing appears.
    dir.Write("plain", "keep");
    EXPECT_FALSE(MapFileWrite(dir.S("plain/child"), "text"));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(dir.Read("plain"), "keep");

    // A directory in the way: refused, and the directory is left alone.
    ASSERT_TRUE(CreateDirectory(dir.S("d"), 0755));
    EXPECT_FALSE(MapFileWrite(dir.S("d"), "text"));
    EXPECT_TRUE(IsDirectory(dir.S("d")));

    // A file that cannot be grown fails after it was opened and truncated: it must
    // be removed, not left half-written.  /dev/full-style failures are not available
    // for regular files, so the file-size limit provides one.
    struct rlimit old;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    sighandler_t oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string big(8192, 'z');
    bool wrote = MapFileWrite(dir.S("toolarge"), SString(big.data(), 8192));
    int err = errno;
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(err, EFBIG);
    EXPECT_FALSE(FileExists(dir.S("toolarge")));
}

TEST(FileDir, MapFileWriteInReadOnlyDirectoryLeavesNoFile) {
    TempDir dir;
    if (RunningAsRoot())
        GTEST_SKIP() << "root ignores directory permissions; the read-only directory "
                        "case cannot fail";
    ASSERT_TRUE(CreateDirectory(dir.S("ro"), 0555));
    EXPECT_FALSE(MapFileWrite(dir.S("ro/new"), "text"));
    EXPECT_EQ(errno, EACCES);
    EXPECT_FALSE(FileExists(dir.S("ro/new")));
}
