// Tests of SMappedFile (zero-copy file text) and SLineBreaker (line windows): the
// strings they hand out share their bytes, so these tests also check that a copy
// survives the next line and that nothing writes through to the mapping.
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "SLineBreaker.h"
#include "SMappedFile.h"
#include "TempDir.h"

namespace {

std::vector<std::string> Lines(const SString& text, unsigned strip) {
    std::vector<std::string> out;
    SLineBreaker breaker(text, strip);
    SString line;
    while (breaker.ReadLine(line)) out.push_back(Str(line));
    EXPECT_FALSE(line.Defined());  // the final false releases the window
    return out;
}

SString Bytes(const std::string& s) { return SString(s.data(), static_cast<int>(s.size())); }

}  // namespace

TEST(MappedFile, SharesTheFileBytes) {
    TempDir dir;
    std::string content("line one\r\nzero\0byte\n", 20);
    dir.Write("f", content);
    SMappedFile file(dir.S("f"));
    ASSERT_TRUE(file.Valid());
    {
        SString text = file.GetString();
        EXPECT_EQ(Str(text), content);
        SString again = file.GetString();
        EXPECT_EQ(text.Chars(), again.Chars());  // the same mapped bytes, no copy
        text += "!";                             // copy on write: the mapping is untouched
        EXPECT_EQ(Str(again), content);
        EXPECT_EQ(Str(text), content + "!");
    }
    file.Close();
    EXPECT_FALSE(file.GetString().Defined());
    file.Close();  // twice is harmless
}

TEST(MappedFile, EmptyMissingAndNonRegular) {
    TempDir dir;
    dir.Write("empty", "");
    SMappedFile empty(dir.S("empty"));
    EXPECT_TRUE(empty.Valid());
    SString text = empty.GetString();
    EXPECT_TRUE(text.Defined());
    EXPECT_EQ(text.Length(), 0);

    SMappedFile missing(dir.S("missing"));
    EXPECT_FALSE(missing.Valid());
    EXPECT_FALSE(missing.GetString().Defined());
    SMappedFile directory(dir.S());
    EXPECT_FALSE(directory.Valid());
    SMappedFile device("/dev/null");
    EXPECT_FALSE(device.Valid());
    SMappedFile nothing{SString()};
    EXPECT_FALSE(nothing.Valid());
}

TEST(MappedFile, DestroyingWhileSharedEndsTheProcess) {
    TempDir dir;
    dir.Write("f", "text");
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::close(2);  // keep the expected complaint out of the test log
        auto* file = new SMappedFile(dir.S("f"));
        static SString kept;
        kept = file->GetString();
        delete file;
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 110);
}

TEST(LineBreaker, LineEnds) {
    std::string text("a\r\nb\nc", 6);
    EXPECT_EQ(Lines(Bytes(text), 1), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(Lines(Bytes(text), 0), (std::vector<std::string>{"a\r\n", "b\n", "c"}));

    struct Row {
        std::string text;
        std::vector<std::string> stripped;
        std::vector<std::string> kept;
    } rows[] = {
        {"", {}, {}},
        {"\n", {""}, {"\n"}},
        {"\r\n", {""}, {"\r\n"}},
        {"\n\n", {"", ""}, {"\n", "\n"}},
        {"x\r", {"x\r"}, {"x\r"}},                 // a lone CR is an ordinary byte
        {"x\ry\n", {"x\ry"}, {"x\ry\n"}},
        {"x\r\r\n", {"x\r"}, {"x\r\r\n"}},
        {"\r", {"\r"}, {"\r"}},
        {"last", {"last"}, {"last"}},
        {std::string("n\0l\n", 4), {std::string("n\0l", 3)}, {std::string("n\0l\n", 4)}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Lines(Bytes(row.text), 1), row.stripped) << row.text;
        EXPECT_EQ(Lines(Bytes(row.text), 0), row.kept) << row.text;
    }
    EXPECT_TRUE(Lines(SString(), 0).empty());
}

TEST(LineBreaker, EmptyLinesAreDefinedAndLinesShareOneWindow) {
    SString text("one\n\ntwo\n");
    SLineBreaker breaker(text, 1);
    SString line;
    ASSERT_TRUE(breaker.ReadLine(line));
    EXPECT_EQ(line.Chars(), text.Chars());  // a window, not a copy
    SString copy = line;
    copy += "X";  // copy on write: the breaker's text is never written
    EXPECT_EQ(Str(text), "one\n\ntwo\n");
    SString owned(line.Chars(), line.Length());
    ASSERT_TRUE(breaker.ReadLine(line));
    EXPECT_TRUE(line.Defined());
    EXPECT_EQ(line.Length(), 0);
    EXPECT_EQ(Str(owned), "one");
    ASSERT_TRUE(breaker.ReadLine(line));
    EXPECT_EQ(Str(line), "two");
    EXPECT_FALSE(breaker.ReadLine(line));
    EXPECT_FALSE(line.Defined());
    EXPECT_FALSE(breaker.ReadLine(line));
    EXPECT_EQ(Str(copy), "oneX");
}

TEST(LineBreaker, RemainderAndTheTextOutlivingItsOwner) {
    SLineBreaker* breaker;
    {
        SString source("head: 1\r\n\r\nbody\nmore");
        breaker = new SLineBreaker(source, 1);
    }  // the breaker keeps the text alive
    SString line;
    ASSERT_TRUE(breaker->ReadLine(line));
    EXPECT_EQ(Str(line), "head: 1");
    ASSERT_TRUE(breaker->ReadLine(line));
    EXPECT_EQ(Str(line), "");
    SString rest = breaker->GetRemainder();
    EXPECT_EQ(Str(rest), "body\nmore");
    rest = SString();
    ASSERT_TRUE(breaker->ReadLine(line));
    ASSERT_TRUE(breaker->ReadLine(line));
    EXPECT_EQ(Str(line), "more");
    rest = breaker->GetRemainder();
    EXPECT_TRUE(rest.Defined());
    EXPECT_EQ(rest.Length(), 0);
    EXPECT_FALSE(breaker->ReadLine(line));
    rest = SString();
    delete breaker;

    SLineBreaker none(SString(), 0);
    EXPECT_FALSE(none.GetRemainder().Defined());
}

TEST(LineBreaker, OverAMappedFile) {
    TempDir dir;
    dir.Write("control", "Function: SMTP-Router\nUser-From: SMTP<>\n");
    SMappedFile file(dir.S("control"));
    std::vector<std::string> lines;
    {
        SLineBreaker breaker(file.GetString(), 1);
        SString line;
        while (breaker.ReadLine(line)) lines.push_back(Str(line));
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"Function: SMTP-Router", "User-From: SMTP<>"}));
}
