// Helpers for the account, alias, set-up and quillbox-admin tests: a private
// installation root (a scratch directory with config/, named by "Quillbox" while it
// lives), shortcuts to create and read accounts, and two processes started at once.
// The account files are process-wide, so the root closes them as it comes and goes.
#ifndef QUILLBOX_TESTS_DIRECTORY_ACCOUNTTESTTOOLS_H
#define QUILLBOX_TESTS_DIRECTORY_ACCOUNTTESTTOOLS_H

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "QbTest.h"
#include "SAccount.h"
#include "SIdentifier.h"

namespace accttest {

using namespace qbtest;
using Strings = std::vector<std::string>;

class TestRoot : public TempDir {
public:
    TestRoot() : TempDir("accounts") {
        std::filesystem::create_directories(Path("config"));
        env.Set("Quillbox", Path());
        SAccountBase::CloseDatabases();
    }
    ~TestRoot() { SAccountBase::CloseDatabases(); }
    std::string Config(const std::string& name) const { return Path("config/" + name); }

private:
    EnvGuard env;
};

// Creates (or rebinds) an account and sets attributes, each list in one Set.
inline void Make(const std::string& uid, const std::map<std::string, Strings>& attrs = {}) {
    SAccountDBMod db;
    SAccountMod account;
    ASSERT_TRUE(db.ModifyAccount(S(uid), &account)) << uid;
    for (const auto& [name, values] : attrs) ASSERT_TRUE(account.Set(S(name), ListOf(values))) << name;
}

inline Strings Attr(const std::string& uid, const std::string& name) {
    SAccount account;
    SAccountDB().GetAccountInfo(S(uid), &account);
    return Items(account.Get(S(name)));
}

inline bool Exists(const std::string& uid) { return SAccountDB().GetAccountInfo(S(uid)); }

inline std::string OwnerOf(const std::string& address) {
    return Str(SAccountDB().GetAccountUID(S821Address(S(address))));
}

// Runs body(0) and body(1) in two children released together (both wait for one pipe
// to close) and gives their exit statuses.
inline std::vector<int> RaceTwo(const std::function<int(int who)>& body) {
    int go[2];
    if (::pipe(go) != 0) return {};
    std::vector<pid_t> children;
    for (int who = 0; who < 2; ++who)
        children.push_back(Spawn([&body, &go, who] {
            char byte;
            ::close(go[1]);
            return ::read(go[0], &byte, 1) < 0 ? 3 : body(who);
        }));
    ::close(go[0]);
    ::close(go[1]);
    std::vector<int> statuses;
    for (pid_t pid : children) statuses.push_back(WaitStatus(pid));
    return statuses;
}

}  // namespace accttest

#endif
