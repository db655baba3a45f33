// Malformed and hostile spool files.  The module program must end every run with a
// documented status, leave files it rejects exactly as they were, and neither lose
// nor duplicate a message: after each run the message exists exactly once (in the
// control directory, the deferred tree, or as processed by the test module).
#include <gtest/gtest.h>

#include <random>

#include "QueueTestSupport.h"

using namespace qbtest;

namespace {

int CopiesOf(const ScratchSpool& spool, const std::string& name) {
    int copies = Exists(spool.Control(name)) + Exists(spool.Path("processed/" + name));
    std::vector<std::string> dirs{spool.Path("deferred/Test-Module")};
    for (const std::string& sub : ListDir(dirs[0])) dirs.push_back(dirs[0] + "/" + sub);
    for (const std::string& dir : dirs) copies += Exists(dir + "/" + name + "-Control");
    return copies;
}

// Runs the module on `text`; a status other than 0 must leave the file unchanged.
int RunOn(const ScratchSpool& spool, const std::string& name, const std::string& text) {
    WriteFile(spool.Control(name), text);
    int status = RunModule({"MessageFile", name});
    EXPECT_EQ(status ? ReadFile(spool.Control(name)) : text, text) << status;
    EXPECT_EQ(CopiesOf(spool, name), 1) << text;
    EXPECT_FALSE(Exists(spool.Control(name) + ".temp")) << text;
    return status;
}

}  // namespace

TEST(BadControlFile, DocumentedStatusesAndNoLoss) {
    ScratchSpool spool;
    const std::string mail = "Function: Test-Module\nControl-Type: Mail\n";
    const std::pair<std::string, int> rows[] = {
        // Not addressed to this module, byte for byte: 102.
        {"", 102}, {"\n\n\n", 102}, {"Function: Other-Module\nControl-Type: Mail\n", 102},
        {"Function:Test-Module\nControl-Type: Mail\n", 102},
        {" Function: Test-Module\nControl-Type: Mail\n", 102},
        {"Function: Test-Module \nControl-Type: Mail\n", 102},
        {"Function: Test-Module\r\nControl-Type: Mail\r\n", 102},
        {"function: Test-Module\nControl-Type: Mail\n", 102},
        {"Function: test-module\nControl-Type: Mail\n", 102},
        {std::string("Function: Test\0Module\nControl-Type: Mail\n", 41), 102},
        {std::string("\xff\xfe\0\x01 \t\r\n\x80", 9), 102},
        // Not exactly a "Mail" or "Request": 103.
        {"Function: Test-Module\nControl-Type: mail\n", 103},
        {"Function: Test-Module\nControl-Type:Mail\n", 103},
        {"Function: Test-Module\n", 103}, {"Function: Test-Module\nControl-Type: Error\n", 103},
        {"Function: Test-Module\nControl-Type: Bounce\n", 103},
        {"Function: Test-Module\nControl-Type: Mail\n more\n", 103},
        // Processed, or deferred without leaving the deferred directory.
        {"Function: Test-Module\nControl-Type: Mail", 0},
        {"Function: Test-Module\nFunction: Other\nControl-Type: Mail\n", 0},
        {mail + "X-Big: " + std::string(1 << 20, 'x') + "\n", 0},
        {mail + "Test-Action: fail\nHost-To: ../../../x\n", 0}};
    int n = 0;
    for (const auto& [text, status] : rows)
        EXPECT_EQ(RunOn(spool, "bad" + std::to_string(n++), text), status) << text.substr(0, 60);
    EXPECT_FALSE(Exists(spool.Path("x")));
}

// Files that are not readable control files at all: the run ends with 105 and leaves
// whatever stands there alone (a FIFO must not make the module wait for a writer).
TEST(BadControlFile, UnreadableFilesAreLeftAlone) {
    ScratchSpool spool;
    mkdir(spool.Control("dir").c_str(), 0700);
    WriteFile(spool.Control("dir") + "/inside", "x");
    ASSERT_EQ(mkfifo(spool.Control("fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/nonexistent/target", spool.Control("dangling").c_str()), 0);
    for (const char* name : {"dir", "fifo", "dangling", "absent"})
        EXPECT_EQ(RunModule({"MessageFile", name}), 105) << name;
    EXPECT_EQ(ReadFile(spool.Control("dir") + "/inside"), "x");
    struct stat st;
    ASSERT_EQ(lstat(spool.Control("fifo").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(lstat(spool.Control("dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(ListDir(spool.Path("deferred")).empty());
}

// Control files assembled at random from valid and broken pieces.  Fixed seed: the
// same files every run.
TEST(BadControlFile, RandomPiecesNeverLoseOrDuplicate) {
    ScratchSpool spool;
    const std::string pieces[] = {
        "Function: Test-Module", "Function: Other", "Control-Type: Mail", "Control-Type: Bogus",
        "Test-Action: fail", "Host-To: h1", "Trace: X", "Host-To: ../..", "\n", "\r\n", " ",
        "\t", std::string(1, '\0'), "\xff", ":", "Function:"};
    std::mt19937 random(20240601);
    std::map<int, int> statuses;
    for (int i = 0; i < 24; ++i) {
        // Half of them start like a real control file, so that all outcomes occur.
        std::string text = i % 2 ? "Function: Test-Module\nControl-Type: Mail\n" : "";
        for (int k = 1 + static_cast<int>(random() % 12); k > 0; --k) {
            text += pieces[random() % std::size(pieces)];
            if (random() % 2) text += "\n";
        }
        int status = RunOn(spool, "rnd" + std::to_string(i), text);
        EXPECT_TRUE(status == 0 || status == 102 || status == 103) << status << " for " << text;
        statuses[status]++;
    }
    EXPECT_GT(statuses[0], 0);
    EXPECT_GT(statuses[102], 0);
}
