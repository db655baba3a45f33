// Malformed and hostile spool files.  The module program must end every run with a
// documented status, leave files it rejects exactly as they were, and neither lose
// nor duplicate a message: after each run the message exists exactly once (in the
// control directory, the deferred tree, or as processed by the test module).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "QueueTestSupport.h"
#include "SMessage.h"

using qbtest::Exists;
using qbtest::ListDir;
using qbtest::ReadWhole;
using qbtest::RunModule;
using qbtest::ScratchSpool;
using qbtest::WriteWhole;

namespace {

// Copies of message `name` in the spool: its control file wherever it is, or the
// test module's record of having processed it.
int CopiesOf(const ScratchSpool& spool, const std::string& name) {
    const std::string file = name + "-Control";
    int copies = Exists(spool.Control(name)) + Exists(spool.Path("processed/" + name));
    std::vector<std::string> dirs{spool.Path("deferred/Test-Module")};
    for (const std::string& sub : ListDir(dirs[0])) dirs.push_back(dirs[0] + "/" + sub);
    for (const std::string& dir : dirs) copies += Exists(dir + "/" + file);
    return copies;
}

struct Case {
    const char* label;
    std::string text;
    int status;
    bool unchanged;  // the file must be left byte for byte as it was
};

void RunCases(ScratchSpool& spool, const std::vector<Case>& cases) {
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "bad" + std::to_string(n++);
        WriteWhole(spool.Control(name), c.text);
        EXPECT_EQ(RunModule({"MessageFile", name}), c.status) << c.label;
        if (c.unchanged) {
            EXPECT_EQ(ReadWhole(spool.Control(name)), c.text) << c.label;
        }
        EXPECT_EQ(CopiesOf(spool, name), 1) << c.label;
        EXPECT_FALSE(Exists(spool.Control(name) + ".temp")) << c.label;
    }
}

}  // namespace

TEST(BadControlFile, DocumentedStatusesAndNoLoss) {
    ScratchSpool spool;
    const std::string mail = "Function: Test-Module\nControl-Type: Mail\n";
    std::vector<Case> cases = {
        {"empty", "", 102, true},
        {"blank lines", "\n\n\n", 102, true},
        {"no space after name", "Function:Test-Module\nControl-Type: Mail\n", 102, true},
        {"leading space", " Function: Test-Module\nControl-Type: Mail\n", 102, true},
        {"trailing space in value", "Function: Test-Module \nControl-Type: Mail\n", 102, true},
        {"CRLF line ends", "Function: Test-Module\r\nControl-Type: Mail\r\n", 102, true},
        {"name in other case", "function: Test-Module\nControl-Type: Mail\n", 102, true},
        {"NUL inside the name", std::string("Function: Test\0Module\nControl-Type: Mail\n", 41),
         102, true},
        {"type in lower case", "Function: Test-Module\nControl-Type: mail\n", 103, true},
        {"type without space", "Function: Test-Module\nControl-Type:Mail\n", 103, true},
        {"type missing", "Function: Test-Module\n", 103, true},
        {"error report", "Function: Test-Module\nControl-Type: Error\n", 103, true},
        {"type continued", "Function: Test-Module\nControl-Type: Mail\n more\n", 103, true},
        {"binary noise", std::string("\xff\xfe\0\x01 \t\r\n\x80", 9), 102, true},
        {"no final newline", "Function: Test-Module\nControl-Type: Mail", 0, false},
        {"second function value", "Function: Test-Module\nFunction: Other\nControl-Type: Mail\n",
         0, false},
        {"huge value", mail + "X-Big: " + std::string(1 << 20, 'x') + "\n", 0, false},
        {"failing, hostile host", mail + "Test-Action: fail\nHost-To: ../../../x\n", 0, false},
        {"failing, host with slash", mail + "Test-Action: fail\nHost-To: a/b\n", 0, false},
        {"failing, empty host", mail + "Test-Action: fail\nHost-To:\n", 0, false},
    };
    RunCases(spool, cases);
    EXPECT_FALSE(Exists(spool.Path("x")));
    EXPECT_FALSE(Exists(spool.Path("deferred/Test-Module/a")));
}

// Files that are not readable control files at all: the run ends with 105 and leaves
// whatever stands there alone (a FIFO must not make the module wait for a writer).
TEST(BadControlFile, UnreadableFilesAreLeftAlone) {
    ScratchSpool spool;
    mkdir(spool.Control("dir").c_str(), 0700);
    WriteWhole(spool.Control("dir") + "/inside", "x");
    ASSERT_EQ(mkfifo(spool.Control("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/nonexistent/target", spool.Control("dangling").c_str()), 0);
    for (const char* name : {"dir", "fifo", "dangling", "absent"})
        EXPECT_EQ(RunModule({"MessageFile", name}), 105) << name;
    EXPECT_EQ(ReadWhole(spool.Control("dir") + "/inside"), "x");
    struct stat st;
    ASSERT_EQ(lstat(spool.Control("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(lstat(spool.Control("dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(ListDir(spool.Path("deferred")).size(), 0u);
}

// Control files assembled at random from valid and broken pieces.  Fixed seed: the
// same files every run.
TEST(BadControlFile, RandomPiecesNeverLoseOrDuplicate) {
    ScratchSpool spool;
    const std::vector<std::string> pieces = {
        "Function: Test-Module", "Function: Other", "Control-Type: Mail", "Control-Type: Bogus",
        "Test-Action: fail",     "Host-To: h1",     "Trace: X",           "Host-To: ../..",
        "\n",                    "\r\n",            " ",                  "\t",
        std::string(1, '\0'),    "\xff",            ":",                  "Function:",
    };
    std::mt19937 random(20240601);
    std::vector<Case> cases;
    for (int i = 0; i < 24; ++i) {
        // Half of them start like a real control file, so that all outcomes occur.
        std::string text = i % 2 ? "Function: Test-Module\nControl-Type: Mail\n" : "";
        int count = 1 + static_cast<int>(random() % 12);
        for (int k = 0; k < count; ++k) {
            text += pieces[random() % pieces.size()];
            if (random() % 2) text += "\n";
        }
        cases.push_back({"random", text, -1, false});
    }
    std::map<int, int> statuses;
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "rnd" + std::to_string(n++);
        WriteWhole(spool.Control(name), c.text);
        int status = RunModule({"MessageFile", name});
        EXPECT_TRUE(status == 0 || status == 102 || status == 103) << status << " for " << c.text;
        if (status != 0) {
            EXPECT_EQ(ReadWhole(spool.Control(name)), c.text);
        }
        statuses[status]++;
        EXPECT_EQ(CopiesOf(spool, name), 1) << c.text;
    }
    EXPECT_GT(statuses[0], 0);
    EXPECT_GT(statuses[102], 0);
}

// Header files are parsed by the same rules whatever they hold; what a module writes
// back reads again as the same fields.
TEST(BadHeaderFile, AnyContentReadsAndRewritesStably) {
    ScratchSpool spool;
    const std::vector<std::string> texts = {
        "",
        "\r\n",
        "no colon or space\r\n",
        " starts with a continuation\r\nSubject: x\r\n",
        "Subject: a\r\n\tfolded\r\n  twice\r\nTo: b\r\n",
        "Subject: lone\rcarriage\nand lf\r\n",
        std::string("Bin: \0\xff\r\nX: y", 13),
        "Subject: no end of line",
        "A: 1\r\n\r\n\r\nB: 2\r\n",
        "Dup: 1\r\ndup: 2\r\nDUP: 3\r\n",
    };
    int n = 0;
    for (const std::string& text : texts) {
        const std::string name = "h" + std::to_string(n++);
        WriteWhole(spool.Header(name), text);
        SHeader header(name.c_str());
        ASSERT_TRUE(header.Read()) << text;
        ASSERT_TRUE(header.Write((name + "w").c_str()));
        SHeader again((name + "w").c_str());
        ASSERT_TRUE(again.Read());
        EXPECT_EQ(again.Keys(), header.Keys()) << text;
        header.Keys().ForEach([&](const SString& key) {
            EXPECT_EQ(again.Get(key), header.Get(key)) << text;
        });
        EXPECT_EQ(ReadWhole(spool.Header(name)), text);  // reading changes nothing
    }
    SHeader dup("h9");
    ASSERT_TRUE(dup.Read());
    EXPECT_EQ(dup.Get("dup:").Count(), 3);
}
