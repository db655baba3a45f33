// Tests of the environment functions and the cut table.  GetCutInfo reads its table
// once per process, so every case that needs a different table runs in a child.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "Sprocess.h"
#include "TempDir.h"

namespace {

int InChild(const std::function<bool()>& body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body() ? 0 : 1);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(Process, GetEnv) {
    ::unsetenv("QB_SYSTEM_TEST_UNSET");
    SString unset = GetEnv("QB_SYSTEM_TEST_UNSET");
    EXPECT_TRUE(unset.Defined());
    EXPECT_EQ(unset.Length(), 0);
    EXPECT_TRUE(GetEnv(SString("QB_SYSTEM_TEST_UNSET")).Defined());
    EXPECT_TRUE(GetEnv(static_cast<const char*>(nullptr)).Defined());

    ::setenv("QB_SYSTEM_TEST_SET", "a value=with equals", 1);
    EXPECT_EQ(Str(GetEnv("QB_SYSTEM_TEST_SET")), "a value=with equals");
    std::string padded = "QB_SYSTEM_TEST_SETXX";
    SFixedString view(padded.data(), static_cast<int>(padded.size()) - 2);
    {
        SString name(view);  // not zero-terminated
        EXPECT_EQ(Str(GetEnv(name)), "a value=with equals");
    }
    ::setenv("QB_SYSTEM_TEST_SET", "", 1);
    EXPECT_TRUE(GetEnv("QB_SYSTEM_TEST_SET").Defined());
    ::unsetenv("QB_SYSTEM_TEST_SET");
}

TEST(Process, PutEnvSetsAndReplaces) {
    EXPECT_TRUE(PutEnv("QB_SYSTEM_TEST_PUT", "first"));
    EXPECT_STREQ(std::getenv("QB_SYSTEM_TEST_PUT"), "first");
    EXPECT_TRUE(PutEnv("QB_SYSTEM_TEST_PUT", "second"));
    EXPECT_EQ(Str(GetEnv("QB_SYSTEM_TEST_PUT")), "second");
    EXPECT_TRUE(PutEnv("QB_SYSTEM_TEST_PUT", SString()));  // set, but empty
    ASSERT_NE(std::getenv("QB_SYSTEM_TEST_PUT"), nullptr);
    EXPECT_STREQ(std::getenv("QB_SYSTEM_TEST_PUT"), "");
    EXPECT_FALSE(PutEnv("", "value"));
    EXPECT_FALSE(PutEnv(SString(), "value"));
    ::unsetenv("QB_SYSTEM_TEST_PUT");
}

TEST(Process, ProcessIdString) {
    EXPECT_EQ(Str(ProcessIdString()), std::to_string(::getpid()));
    EXPECT_EQ(InChild([] { return Str(ProcessIdString()) == std::to_string(::getpid()); }), 0);
}

TEST(Process, GetCutInfo) {
    TempDir dir;
    dir.Write(".cut",
              "alpha one two\n"
              "beta\tsecond\r\n"
              "lonely\n"
              "alpha shadowed\n"
              "empty \n"
              " leading\n"
              "\n"
              "last  double");
    ::setenv("ProgramDir", dir.Path().c_str(), 1);
    EXPECT_EQ(InChild([&] {
                  bool ok = Str(GetCutInfo("alpha")) == "one two";  // first line wins
                  ok = ok && Str(GetCutInfo("beta")) == "second";   // CR LF stripped
                  ok = ok && !GetCutInfo("lonely").Defined();       // no white space
                  SString empty = GetCutInfo("empty");
                  ok = ok && empty.Defined() && empty.Length() == 0;
                  ok = ok && Str(GetCutInfo("")) == "leading";      // first field empty
                  ok = ok && Str(GetCutInfo("last")) == " double";  // split once only
                  ok = ok && Str(GetCutInfo("gamma")) == "Undefined";
                  ok = ok && Str(GetCutInfo("alph")) == "Undefined";
                  return ok;
              }),
              0);
    // The text is read once: removing the file afterwards changes nothing.
    EXPECT_EQ(InChild([&] {
                  bool ok = Str(GetCutInfo("beta")) == "second";
                  ::unlink(dir.Path(".cut").c_str());
                  return ok && Str(GetCutInfo("alpha")) == "one two";
              }),
              0);
    EXPECT_EQ(InChild([] { return Str(GetCutInfo("alpha")) == "Undefined"; }), 0);  // gone
    ::unsetenv("ProgramDir");
    EXPECT_EQ(InChild([] { return Str(GetCutInfo("alpha")) == "Undefined"; }), 0);
}
