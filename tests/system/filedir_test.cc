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
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "Sfiledir.h"

using qbtest::S;
using qbtest::Str;
using qbtest::TempDir;

namespace {

std::vector<std::string> Sorted(const SStringList& l) {
    std::vector<std::string> out = qbtest::Items(l);
    std::sort(out.begin(), out.end());
    return out;
}

bool RunningAsRoot() { return ::geteuid() == 0; }

// The predicates of a path as one word: exists, readable, writeable, executable,
// regular file, directory; "-" where a predicate is false.
std::string Flags(const SString& path) {
    std::string out;
    bool flags[] = {FileExists(path),   IsReadable(path), IsWriteable(path),
                    IsExecutable(path), IsRegular(path),  IsDirectory(path)};
    for (int i = 0; i < 6; ++i) out += flags[i] ? "erwxfd"[i] : '-';
    return out;
}

}  // namespace

TEST(FileDir, Predicates) {
    TempDir dir("filedir");
    dir.Write("plain", "x");
    ::chmod(dir.Path("plain").c_str(), 0644);
    dir.Write("script", "#!/bin/sh\n");
    ::chmod(dir.Path("script").c_str(), 0755);
    // A zero byte inside a path never shortens it to an existing name; a path that is
    // a window onto a larger buffer (not zero-terminated) still works.
    std::string withZero = dir.Path("plain") + std::string(1, '\0') + "tail";
    std::string padded = dir.Path("plain") + "XYZ";
    SFixedString window(padded.data(), static_cast<int>(padded.size()) - 3);
    const struct {
        SString path;
        const char* flags;
    } rows[] = {
        {dir.SPath("plain"), "erw-f-"}, {dir.SPath("script"), "erwxf-"}, {dir.SPath(), "erwx-d"},
        {dir.SPath("missing"), "------"}, {SString(), "------"}, {SString(""), "------"},
        {S(withZero), "------"}, {SString(window), "erw-f-"},
    };
    for (const auto& row : rows) EXPECT_EQ(Flags(row.path), row.flags) << Str(row.path);
}

TEST(FileDir, PathAndFileFromFilename) {
    const struct {
        const char *path, *dir, *file;
    } rows[] = {
        {"name", ".", "name"}, {"/a/b", "/a", "b"}, {"a/b/c", "a/b", "c"}, {"a/b/", "a/b", ""},
        {"/a", ".", "a"},      {"", ".", ""},       {"./x", ".", "x"},     {"//a//b", "//a/", "b"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Str(PathFromFilename(row.path)), row.dir) << row.path;
        EXPECT_EQ(Str(FileFromFilename(row.path)), row.file) << row.path;
    }
}

TEST(FileDir, MakeDirCreateDirectoryChdirAndRealPath) {
    TempDir dir("filedir");
    dir.Write("file", "x");
    char cwd[PATH_MAX], now[PATH_MAX];
    ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_TRUE(Chdir(dir.SPath()));
    // Relative paths start at the working directory; `made` is the directory then there.
    const struct {
        const char *path, *made;
    } rows[] = {
        {"a/b/c", "a/b/c"}, {"p/q/", "p/q"},       // a trailing slash is the same as none
        {"a/b/c", "a/b/c"}, {"a//b//d", "a/b/d"},  // existing; doubled slashes are harmless
        {"", nullptr}, {"file/sub", nullptr}, {"file", nullptr},  // a regular file in the way
    };
    for (const auto& row : rows) {
        EXPECT_EQ(MakeDir(row.path, 0755), row.made != nullptr) << row.path;
        EXPECT_TRUE(!row.made || IsDirectory(row.made)) << row.path;
    }
    EXPECT_FALSE(MakeDir(SString(), 0755));
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_TRUE(MakeDir(dir.SPath("abs/x/y"), 0700));  // absolute: built from the root
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("abs/x/y").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    EXPECT_TRUE(CreateDirectory(dir.SPath("one"), 0755));
    EXPECT_FALSE(CreateDirectory(dir.SPath("one"), 0755));      // exists
    EXPECT_FALSE(CreateDirectory(dir.SPath("no/such"), 0755));  // one level only
    EXPECT_FALSE(Chdir(dir.SPath("file")));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_FALSE(Chdir(dir.SPath("missing")));
    ASSERT_TRUE(Chdir(dir.SPath("one")));
    ASSERT_NE(::getcwd(now, sizeof now), nullptr);
    ASSERT_EQ(::chdir(cwd), 0);
    EXPECT_EQ(Str(RealPath(dir.SPath("one"))), now);
    EXPECT_EQ(Str(RealPath(dir.SPath("one/../one/."))), now);
    EXPECT_EQ(Str(RealPath(dir.SPath("one/missing/x"))), dir.Path("one/missing/x"));  // as given
}

TEST(FileDir, ReadDir) {
    TempDir dir("filedir");
    ASSERT_TRUE(CreateDirectory(dir.SPath("d"), 0755) && CreateDirectory(dir.SPath("empty"), 0755));
    dir.Write("d/x", "");
    dir.Write("d/y", "");
    const std::vector<std::string> both = {dir.Path("d/x"), dir.Path("d/y")};
    for (const std::string& path : {dir.Path("d"), dir.Path("d/"), dir.Path() + "//d//"})
        EXPECT_EQ(Sorted(ReadDir(S(path))), both) << path;
    EXPECT_EQ(qbtest::Bracketed(ReadDir(dir.SPath("empty"))), "");  // defined, no entries
    // Missing, not a directory, empty and undefined names.
    for (const SString& path : {dir.SPath("missing"), dir.SPath("d/x"), SString(""), SString()})
        EXPECT_FALSE(ReadDir(path).Defined()) << Str(path);
}

TEST(FileDir, RemoveDirRemoveFileRenameAndLink) {
    TempDir dir("filedir");
    ASSERT_TRUE(CreateDirectory(dir.SPath("d"), 0755) && CreateDirectory(dir.SPath("full"), 0755));
    dir.Write("full/inside", "");
    dir.Write("f", "x");
    EXPECT_FALSE(RemoveFile(dir.SPath("d")));  // never a directory
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(RemoveDir(dir.SPath("f")));  // never a file
    EXPECT_TRUE(IsDirectory(dir.SPath("d")) && FileExists(dir.SPath("f")));
    EXPECT_TRUE(RemoveDir(dir.SPath("d/")));  // one trailing slash is ignored
    EXPECT_FALSE(FileExists(dir.SPath("d")));
    EXPECT_FALSE(RemoveDir(dir.SPath("d")));
    EXPECT_FALSE(RemoveDir(dir.SPath("full")));  // rmdir refuses a non-empty directory
    EXPECT_TRUE(RemoveFile(dir.SPath("f")));
    EXPECT_FALSE(RemoveFile(dir.SPath("f")));
    EXPECT_EQ(errno, ENOENT);

    dir.Write("a", "content");
    EXPECT_TRUE(Rename(dir.SPath("a"), dir.SPath("b")));
    EXPECT_FALSE(FileExists(dir.SPath("a")));
    EXPECT_FALSE(Rename(dir.SPath("a"), dir.SPath("c")));
    EXPECT_TRUE(LinkFile(dir.SPath("b"), dir.SPath("c")));
    struct stat sb, sc;
    ASSERT_EQ(::stat(dir.Path("b").c_str(), &sb), 0);
    ASSERT_EQ(::stat(dir.Path("c").c_str(), &sc), 0);
    EXPECT_EQ(sb.st_ino, sc.st_ino);
    EXPECT_EQ(dir.Read("c"), "content");
    EXPECT_FALSE(LinkFile(dir.SPath("b"), dir.SPath("c")));     // target exists
    EXPECT_FALSE(LinkFile(dir.SPath("full"), dir.SPath("e")));  // a directory
    EXPECT_FALSE(FileExists(dir.SPath("e")));
}

TEST(FileDir, RemoveFileLoggedWritesOneLineOnlyForAnExistingFile) {
    TempDir dir("filedir");
    dir.Write("gone", "x");
    ASSERT_TRUE(CreateDirectory(dir.SPath("d"), 0755));
    ASSERT_TRUE(CreateDirectory(dir.SPath("locked"), 0755));
    dir.Write("locked/stuck", "x");
    ::chmod(dir.Path("locked").c_str(), 0555);
    // Each removal runs in a child whose standard error (std::clog) is collected; the
    // child's status is the errno of a failure.
    auto remove = [](const std::string& path) {
        return qbtest::RunChild([&path] {
            ::setenv("ModuleName", "Test-Module", 1);
            return RemoveFileLogged(S(path)) ? 0 : errno;
        });
    };
    // Removed: true; then missing, or a directory: false.  Silent either way.
    const struct {
        const char* name;
        bool removed;
    } quiet[] = {{"gone", true}, {"gone", false}, {"d", false}};
    for (const auto& row : quiet) {
        qbtest::RunResult run = remove(dir.Path(row.name));
        EXPECT_EQ(run.status == 0, row.removed) << row.name;
        EXPECT_EQ(run.err, "") << row.name;
    }
    // Files of the process file system are regular files nobody may remove, root
    // included; a file in a read-only directory resists everyone else.
    std::vector<std::string> stuck = {"/proc/self/status"};
    if (!RunningAsRoot()) stuck.push_back(dir.Path("locked/stuck"));
    for (const std::string& path : stuck) {
        // "<14 digits><zone>:Test-Module:ERROR:Couldn't remove file <path>:<error>\n"
        qbtest::RunResult run = remove(path);
        ASSERT_GT(run.status, 0) << path;
        ASSERT_GT(run.err.size(), 19u) << path;
        EXPECT_TRUE(std::regex_match(run.err.substr(0, 19), std::regex("[0-9]{14}[+-][0-9]{4}")));
        EXPECT_EQ(run.err.substr(19), ":Test-Module:ERROR:Couldn't remove file " + path + ":" +
                                          std::strerror(run.status) + "\n");
    }
    EXPECT_TRUE(RunningAsRoot() || FileExists(dir.SPath("locked/stuck")));
}

TEST(FileDir, SizeAgeAndFreeSpace) {
    TempDir dir("filedir");
    dir.Write("five", "12345");
    dir.Write("empty", "");
    EXPECT_EQ(FileSize(dir.SPath("five")), 5);
    EXPECT_EQ(FileSize(dir.SPath("empty")), 0);
    EXPECT_EQ(FileSize(dir.SPath()), -1);  // not a regular file
    EXPECT_EQ(FileSize(dir.SPath("missing")), -1);
    struct timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 2 * 86400 - 43200, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, dir.Path("five").c_str(), times, 0), 0);
    EXPECT_NEAR(FileAge(dir.SPath("five")), 2.5, 0.01);  // in days
    EXPECT_NEAR(FileAge(dir.SPath("empty")), 0.0, 0.01);
    EXPECT_EQ(FileAge(dir.SPath("missing")), -1.0);
    // The room an unprivileged writer has (others write meanwhile, hence the margin).
    struct statvfs fs;
    ASSERT_EQ(::statvfs(dir.Path().c_str(), &fs), 0);
    double space = FreeDiskSpace(dir.SPath());
    EXPECT_GE(space, 0.0);
    EXPECT_NEAR(space, static_cast<double>(fs.f_frsize) * fs.f_bavail, 64.0 * 1024 * 1024);
    EXPECT_EQ(FreeDiskSpace(dir.SPath("missing/deeper")), -1.0);
}

TEST(FileDir, CopyFile) {
    TempDir dir("filedir");
    std::string big(20480 * 3 + 17, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    dir.Write("src", big);
    ::chmod(dir.Path("src").c_str(), 04751);
    EXPECT_TRUE(CopyFile(dir.SPath("src"), dir.SPath("dst"), 0));
    EXPECT_EQ(dir.Read("dst"), big);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("dst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);  // set-user-id cleared
    EXPECT_EQ(st.st_uid, ::geteuid());
    dir.Write("empty", "");
    EXPECT_TRUE(CopyFile(dir.SPath("empty"), dir.SPath("empty-copy"), 1));
    EXPECT_EQ(FileSize(dir.SPath("empty-copy")), 0);
    dir.Write("old", "previous content that is longer");
    EXPECT_TRUE(CopyFile(dir.SPath("empty"), dir.SPath("old"), 0));  // an existing target is replaced
    EXPECT_EQ(dir.Read("old"), "");

    EXPECT_FALSE(CopyFile(dir.SPath("missing"), dir.SPath("x"), 0));
    EXPECT_FALSE(FileExists(dir.SPath("x")));
    EXPECT_FALSE(CopyFile(dir.SPath("src"), dir.SPath("no/such/dir"), 0));
    // A directory reads as an error at the first read: the partial target is removed.
    ASSERT_TRUE(CreateDirectory(dir.SPath("d"), 0755));
    EXPECT_FALSE(CopyFile(dir.SPath("d"), dir.SPath("from-dir"), 0));
    EXPECT_FALSE(FileExists(dir.SPath("from-dir")));
}

TEST(FileDir, MapFileReadTellsMissingFromEmptyAndRefusesOthers) {
    TempDir dir("filedir");
    dir.Write("empty", "");
    std::string bytes("a\0b\r\nc", 6);
    dir.Write("bytes", bytes);
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    SString empty = MapFileRead(dir.SPath("empty"));
    EXPECT_TRUE(empty.Defined());
    EXPECT_EQ(empty.Length(), 0);
    SString text = MapFileRead(dir.SPath("bytes"));
    EXPECT_EQ(Str(text), bytes);
    EXPECT_EQ(text.Chars()[text.Length()], 0);  // an owned copy, zero-terminated
    EXPECT_FALSE(MapFileRead(dir.SPath()).Defined());  // a directory
    EXPECT_EQ(errno, EISDIR);
    // Missing, a device, empty and undefined names.
    for (const SString& path : {dir.SPath("missing"), SString("/dev/null"), SString(""), SString()})
        EXPECT_FALSE(MapFileRead(path).Defined()) << Str(path);
    // A FIFO without a writer is refused at once instead of blocking the open.
    EXPECT_EQ(qbtest::WaitStatus(qbtest::Spawn([&dir] {
                  ::alarm(5);
                  return MapFileRead(dir.SPath("fifo")).Defined() ? 1 : 0;
              })),
              0);
    if (!RunningAsRoot()) {
        ::chmod(dir.Path("bytes").c_str(), 0);
        EXPECT_FALSE(MapFileRead(dir.SPath("bytes")).Defined());
    }
}

TEST(FileDir, MapFileWriteReplacesContent) {
    TempDir dir("filedir");
    std::string bytes("x\0y\n", 4);
    EXPECT_TRUE(MapFileWrite(dir.SPath("f"), S(bytes)));
    EXPECT_EQ(dir.Read("f"), bytes);
    struct stat st;
    ASSERT_EQ(::stat(dir.Path("f").c_str(), &st), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0660u & ~mask);
    EXPECT_TRUE(MapFileWrite(dir.SPath("f"), "short"));  // a longer file is cut to size
    EXPECT_EQ(dir.Read("f"), "short");
    EXPECT_TRUE(MapFileWrite(dir.SPath("f"), ""));  // an empty text empties the file
    EXPECT_EQ(FileSize(dir.SPath("f")), 0);
    EXPECT_TRUE(MapFileWrite(dir.SPath("g"), SString()));  // undefined text: an empty file
    EXPECT_EQ(FileSize(dir.SPath("g")), 0);
    std::string big(1 << 20, 'q');
    big[12345] = '\n';
    EXPECT_TRUE(MapFileWrite(dir.SPath("big"), S(big)));
    EXPECT_EQ(Str(MapFileRead(dir.SPath("big"))), big);
}

TEST(FileDir, MapFileWriteFailuresLeaveNoFile) {
    TempDir dir("filedir");
    EXPECT_FALSE(MapFileWrite("", "text"));
    EXPECT_FALSE(MapFileWrite(SString(), "text"));
    dir.Write("plain", "keep");  // the parent is a regular file: open fails
    EXPECT_FALSE(MapFileWrite(dir.SPath("plain/child"), "text"));
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(dir.Read("plain"), "keep");
    ASSERT_TRUE(CreateDirectory(dir.SPath("d"), 0755));  // a directory in the way stays
    EXPECT_FALSE(MapFileWrite(dir.SPath("d"), "text"));
    EXPECT_TRUE(IsDirectory(dir.SPath("d")));
    if (!RunningAsRoot()) {  // root ignores directory permissions
        ASSERT_TRUE(CreateDirectory(dir.SPath("ro"), 0555));
        EXPECT_FALSE(MapFileWrite(dir.SPath("ro/new"), "text"));
        EXPECT_EQ(errno, EACCES);
        EXPECT_FALSE(FileExists(dir.SPath("ro/new")));
    }
    // A file that cannot be grown fails after it was opened and truncated: it must be
    // removed, not left half-written.  The file-size limit provides such a failure.
    struct rlimit old, small;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    small = old;
    small.rlim_cur = 4096;
    sighandler_t oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    bool wrote = MapFileWrite(dir.SPath("toolarge"), S(std::string(8192, 'z')));
    int err = errno;
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(wrote);
    EXPECT_EQ(err, EFBIG);
    EXPECT_FALSE(FileExists(dir.SPath("toolarge")));
}
