// Tests of SMappedFile (zero-copy file text) and SLineBreaker (line windows): the
// strings they hand out share their bytes, so these tests also check that a copy
// survives the next line and that nothing writes through to the mapping.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "SLineBreaker.h"
#include "SMappedFile.h"

using qbtest::S;
using qbtest::Str;

namespace {

std::vector<std::string> Lines(const SString& text, unsigned strip) {
    std::vector<std::string> out;
    SLineBreaker breaker(text, strip);
    SString line;
    while (breaker.ReadLine(line)) out.push_back(Str(line));
    EXPECT_FALSE(line.Defined());  // the final false releases the window
    return out;
}

}  // namespace

TEST(MappedFile, SharesTheFileBytes) {
    qbtest::TempDir dir("mapped");
    std::string content("Function: SMTP-Router\r\nzero\0byte\n", 33);
    dir.Write("f", content);
    SMappedFile file(dir.SPath("f"));
    ASSERT_TRUE(file.Valid());
    {
        SString text = file.GetString(), again = file.GetString();
        EXPECT_EQ(Str(text), content);
        EXPECT_EQ(text.Chars(), again.Chars());  // the same mapped bytes, no copy
        text += "!";                             // copy on write: the mapping is untouched
        EXPECT_EQ(Str(again), content);
        EXPECT_EQ(Str(text), content + "!");
        EXPECT_EQ(Lines(again, 1), (std::vector<std::string>{"Function: SMTP-Router", std::string("zero\0byte", 9)}));
    }
    file.Close();
    EXPECT_FALSE(file.GetString().Defined());
    file.Close();  // twice is harmless
}

TEST(MappedFile, EmptyMissingAndNonRegular) {
    qbtest::TempDir dir("mapped");
    dir.Write("empty", "");
    SMappedFile empty(dir.SPath("empty"));
    EXPECT_TRUE(empty.Valid());
    SString text = empty.GetString();
    EXPECT_TRUE(text.Defined());
    EXPECT_EQ(text.Length(), 0);
    // A FIFO without a writer is refused at once instead of blocking the open (the
    // child's alarm ends a hang).
    ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
    for (const SString& path : {dir.SPath("missing"), dir.SPath(), SString("/dev/null"), SString(), dir.SPath("fifo")}) {
        int status = qbtest::WaitStatus(qbtest::Spawn([&path] {
            ::alarm(5);
            SMappedFile file(path);
            return file.Valid() || file.GetString().Defined() ? 1 : 0;
        }));
        EXPECT_EQ(status, 0) << Str(path);
    }
}

TEST(MappedFile, DestroyingWhileSharedEndsTheProcess) {
    qbtest::TempDir dir("mapped");
    dir.Write("f", "text");
    EXPECT_EXIT(
        {
            auto* file = new SMappedFile(dir.SPath("f"));
            static SString kept;
            kept = file->GetString();
            delete file;
            ::_exit(0);
        },
        testing::ExitedWithCode(110), "still shared");
}

TEST(LineBreaker, LineEndsInBothStripModes) {
    const struct {
        std::string text;
        std::vector<std::string> stripped, kept;
    } rows[] = {
        {"a\r\nb\nc", {"a", "b", "c"}, {"a\r\n", "b\n", "c"}},
        {"", {}, {}}, {"\n", {""}, {"\n"}}, {"\r\n", {""}, {"\r\n"}}, {"\n\n", {"", ""}, {"\n", "\n"}},
        {"x\r", {"x\r"}, {"x\r"}}, {"\r", {"\r"}, {"\r"}},  // a lone CR is an ordinary byte
        {"x\ry\n", {"x\ry"}, {"x\ry\n"}}, {"x\r\r\n", {"x\r"}, {"x\r\r\n"}}, {"last", {"last"}, {"last"}},
        {std::string("n\0l\n", 4), {std::string("n\0l", 3)}, {std::string("n\0l\n", 4)}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Lines(S(row.text), 1), row.stripped) << row.text;
        EXPECT_EQ(Lines(S(row.text), 0), row.kept) << row.text;
    }
    EXPECT_TRUE(Lines(SString(), 0).empty());
}

TEST(LineBreaker, WindowsRemainderAndTheTextOutlivingItsOwner) {
    SString text("one\r\n\r\nbody\nmore");
    auto* breaker = new SLineBreaker(text, 1);
    SString line;
    ASSERT_TRUE(breaker->ReadLine(line));
    EXPECT_EQ(line.Chars(), text.Chars());  // a window, not a copy
    SString copy = line, owned(line.Chars(), line.Length());
    copy += "X";  // copy on write: the breaker's text is never written
    EXPECT_EQ(Str(text), "one\r\n\r\nbody\nmore");
    text = SString();  // from here on the breaker alone keeps the text alive
    ASSERT_TRUE(breaker->ReadLine(line));
    EXPECT_TRUE(line.Defined() && line.Length() == 0);  // an empty line is defined
    EXPECT_EQ(Str(owned), "one");
    EXPECT_EQ(Str(copy), "oneX");
    EXPECT_EQ(Str(breaker->GetRemainder()), "body\nmore");
    ASSERT_TRUE(breaker->ReadLine(line) && breaker->ReadLine(line));
    EXPECT_EQ(Str(line), "more");
    SString rest = breaker->GetRemainder();
    EXPECT_TRUE(rest.Defined() && rest.Length() == 0);
    rest = SString();
    EXPECT_FALSE(breaker->ReadLine(line));
    EXPECT_FALSE(line.Defined());
    EXPECT_FALSE(breaker->ReadLine(line));
    delete breaker;
    EXPECT_FALSE(SLineBreaker(SString(), 0).GetRemainder().Defined());
}
