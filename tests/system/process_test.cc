// Tests of the environment functions and the cut table.  GetCutInfo reads its table
// once per process, so every case that needs a different table runs in a child.
#include <unistd.h>

#include <cstdlib>
#include <iterator>
#include <string>

#include <gtest/gtest.h>

#include "QbTest.h"
#include "Sprocess.h"

using qbtest::Spawn;
using qbtest::Str;
using qbtest::WaitStatus;

TEST(Process, GetEnvAndPutEnv) {
    qbtest::EnvGuard env;
    env.Unset("QB_SYSTEM_TEST_UNSET");
    env.Set("QB_SYSTEM_TEST_SET", "a value=with equals");
    env.Set("QB_SYSTEM_TEST_EMPTY", "");
    // Unset, set empty or no name at all: a defined empty string.
    for (const char* name : {"QB_SYSTEM_TEST_UNSET", "QB_SYSTEM_TEST_EMPTY", static_cast<const char*>(nullptr)}) {
        SString value = GetEnv(name);
        EXPECT_TRUE(value.Defined() && value.Length() == 0) << (name ? name : "null");
    }
    EXPECT_EQ(Str(GetEnv("QB_SYSTEM_TEST_SET")), "a value=with equals");
    std::string padded = "QB_SYSTEM_TEST_SETXX";
    SFixedString view(padded.data(), static_cast<int>(padded.size()) - 2);
    EXPECT_EQ(Str(GetEnv(SString(view))), "a value=with equals");  // not zero-terminated

    env.Unset("QB_SYSTEM_TEST_PUT");  // the guard removes it again at the end
    EXPECT_TRUE(PutEnv("QB_SYSTEM_TEST_PUT", "first"));
    EXPECT_TRUE(PutEnv("QB_SYSTEM_TEST_PUT", "second"));
    EXPECT_STREQ(std::getenv("QB_SYSTEM_TEST_PUT"), "second");
    EXPECT_TRUE(PutEnv("QB_SYSTEM_TEST_PUT", SString()));  // set, but empty
    ASSERT_NE(std::getenv("QB_SYSTEM_TEST_PUT"), nullptr);
    EXPECT_STREQ(std::getenv("QB_SYSTEM_TEST_PUT"), "");
    EXPECT_FALSE(PutEnv("", "value"));
    EXPECT_FALSE(PutEnv(SString(), "value"));
}

TEST(Process, ProcessIdStringFollowsFork) {
    auto own = [] { return Str(ProcessIdString()) == std::to_string(::getpid()); };
    EXPECT_TRUE(own());
    EXPECT_EQ(WaitStatus(Spawn([&own] { return own() ? 0 : 1; })), 0);
}

namespace {

// True when the cut table gives `want` for `key` (nullptr: an undefined string).
bool CutIs(const char* key, const char* want) {
    SString got = GetCutInfo(key);
    return want ? got.Defined() && Str(got) == want : !got.Defined();
}

}  // namespace

TEST(Process, GetCutInfo) {
    qbtest::TempDir dir("cut");
    dir.Write(".cut", "alpha one two\nbeta\tsecond\r\nlonely\nalpha shadowed\nempty \n leading\n\nlast  double");
    qbtest::EnvGuard env;
    env.Set("ProgramDir", dir.Path());
    const struct {
        const char *key, *value;
    } rows[] = {
        {"alpha", "one two"},  // the first line wins
        {"beta", "second"},    // CR LF stripped
        {"lonely", nullptr},   // no white space
        {"empty", ""},         //
        {"", "leading"},       // first field empty
        {"last", " double"},   // split once only
        {"gamma", "Undefined"}, {"alph", "Undefined"},
    };
    int failed = WaitStatus(Spawn([&rows] {
        for (size_t i = 0; i < std::size(rows); ++i)
            if (!CutIs(rows[i].key, rows[i].value)) return static_cast<int>(i) + 1;
        return 0;
    }));
    EXPECT_EQ(failed, 0) << "row " << failed - 1;
    // The text is read once: removing the file afterwards changes nothing.
    EXPECT_EQ(WaitStatus(Spawn([&dir] {
                  bool ok = CutIs("beta", "second");
                  ::unlink(dir.Path(".cut").c_str());
                  return ok && CutIs("alpha", "one two") ? 0 : 1;
              })),
              0);
    auto alphaUndefined = [] { return CutIs("alpha", "Undefined") ? 0 : 1; };
    EXPECT_EQ(WaitStatus(Spawn(alphaUndefined)), 0);  // the file is gone
    env.Unset("ProgramDir");
    EXPECT_EQ(WaitStatus(Spawn(alphaUndefined)), 0);
}
