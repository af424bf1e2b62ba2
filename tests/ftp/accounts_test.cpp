// Accounts: creation rules, limits, exact login counts and deletion.
#include "served_image.h"

namespace vrax::ftp::test {
namespace {

using Accounts = ServedImage;

TEST_F(Accounts, CreationRules) {
  FtpUser* bob = server_->AddUser("bob", "pw", "/1");
  ASSERT_NE(bob, nullptr);
  EXPECT_EQ(server_->AddUser("BOB", "other", "/1"), nullptr);  // names ignore case
  EXPECT_EQ(server_->FindUser("Bob"), bob);
  EXPECT_EQ(server_->AddUser("carl", nullptr, "/1"), nullptr);  // a password is needed
  EXPECT_NE(server_->AddUser("ANONYMOUS", nullptr, "/1"), nullptr);
  EXPECT_EQ(server_->AddUser("dave", "pw", "/1/missing"), nullptr);
  EXPECT_EQ(server_->AddUser("dave", "pw", ""), nullptr);
  EXPECT_EQ(server_->AddUser(nullptr, "pw", "/1"), nullptr);
  FtpUser* slash = server_->AddUser("erin", "pw", "/1/pub/");
  ASSERT_NE(slash, nullptr);
  EXPECT_EQ(slash->startPath, "/1/pub");
  FtpUser* tidy = server_->AddUser("fay", "pw", "//1\\pub");
  ASSERT_NE(tidy, nullptr);
  EXPECT_EQ(tidy->startPath, "/1/pub");
  // An empty name is accepted but can never be found.
  EXPECT_NE(server_->AddUser("", "pw", "/1"), nullptr);
  EXPECT_EQ(server_->FindUser(""), nullptr);
  EXPECT_EQ(server_->userCount(), 5u);
  ASSERT_TRUE(server_->SetPrivileges(bob, 0x09));
  EXPECT_FALSE(server_->SetPrivileges(bob, 0x40));
  EXPECT_FALSE(server_->SetPrivileges(bob, 0x81));
  EXPECT_EQ(bob->privileges, 0x09);
  EXPECT_FALSE(server_->SetPrivileges(nullptr, 1));
  EXPECT_TRUE(server_->SetMaxClients(bob, -1));
  EXPECT_FALSE(server_->SetMaxClients(bob, -2));
  EXPECT_EQ(bob->maxClients, -1);
  EXPECT_FALSE(server_->SetMaxClients(nullptr, 0));
}

TEST_F(Accounts, AnonymousAccessOnAndOff) {
  EXPECT_TRUE(server_->AllowAnonymous(true, "/1"));
  EXPECT_TRUE(server_->AllowAnonymous(true, "/elsewhere"));
  EXPECT_EQ(server_->userCount(), 1u);
  ASSERT_NE(server_->anonymousUser(), nullptr);
  EXPECT_EQ(server_->anonymousUser()->privileges, kPrivAnonymous);
  EXPECT_TRUE(server_->AllowAnonymous(false, nullptr));
  EXPECT_FALSE(server_->anonymousEnabled());
  EXPECT_EQ(server_->userCount(), 0u);
  EXPECT_FALSE(server_->AllowAnonymous(true, "/1/missing"));
  EXPECT_FALSE(server_->anonymousEnabled());
}

TEST_F(Accounts, LoginCountsStayExactAndLimitLogins) {
  FtpUser* bob = AddFullUser("bob", "pw");
  server_->SetMaxClients(bob, 2);
  ASSERT_TRUE(server_->AllowAnonymous(true, "/1"));
  FtpUser* anonymous = server_->anonymousUser();
  // After each command: its reply, then the anonymous and bob's counts (a
  // repeated PASS counts no second time).
  const struct {
    const char* command;
    const char* reply;
    int anonymousCount, bobCount;
  } steps[] = {
      {"USER anonymous", "230 User Logged In.", 1, 0}, {"PASS x", "230 User Logged In.", 1, 0},
      {"USER bob", "331 Password required for this user.", 0, 0},
      {"PASS pw", "230 User Logged In.", 0, 1}, {"PASS pw", "230 User Logged In.", 0, 1},
      {"REIN", "200 Reinitialize Successful.", 0, 0},
      {"USER bob", "331 Password required for this user.", 0, 0},
      {"PASS pw", "230 User Logged In.", 0, 1},
  };
  auto c = Connect();
  for (const auto& step : steps) {
    EXPECT_EQ(c->Command(step.command), step.reply) << step.command;
    EXPECT_EQ(server_->CurrentClients(anonymous), step.anonymousCount) << step.command;
    EXPECT_EQ(server_->CurrentClients(bob), step.bobCount) << step.command;
  }
  auto second = Connect();
  auto third = Connect();
  EXPECT_TRUE(second->Login("bob", "pw"));
  EXPECT_EQ(third->Command("USER bob"), "331 Password required for this user.");
  EXPECT_EQ(third->Command("PASS pw"), "421 Too many users logged in for this account.");
  EXPECT_EQ(third->Command("NOOP"), "530 Please login with USER and PASS.");
  // When one leaves, the place is free again.
  EXPECT_EQ(second->Command("QUIT"), "221 Goodbye.");
  EXPECT_TRUE(second->ClosedByServer());
  auto fourth = Connect();  // the next accept removes the finished client
  EXPECT_TRUE(Eventually([&] { return server_->clientCount() == 3; }));
  EXPECT_EQ(third->Command("PASS pw"), "230 User Logged In.");
  third->Close();
  fourth->Close();
  c->Close();
  EXPECT_TRUE(Eventually([&] {
    server_->RemoveFinishedClients();
    return server_->clientCount() == 0;
  }));
  EXPECT_EQ(server_->CurrentClients(bob), 0);
  EXPECT_EQ(server_->CurrentClients(anonymous), 0);
}

TEST_F(Accounts, DeletingAnAccountReachesEveryClientThatNamesIt) {
  FtpUser* bob = AddFullUser("bob", "pw");
  AddFullUser("carol", "pw");
  auto loggedIn = Connect();
  auto named = Connect();
  auto other = Connect();
  ASSERT_TRUE(loggedIn->Login("bob", "pw"));
  EXPECT_EQ(named->Command("USER bob"), "331 Password required for this user.");
  ASSERT_TRUE(other->Login("carol", "pw"));
  EXPECT_TRUE(server_->DeleteUser(bob));
  EXPECT_TRUE(loggedIn->ClosedByServer());
  // The client that only named the account cannot log in to it any more.
  EXPECT_EQ(named->Command("PASS pw"), "530 Please login with valid USER and PASS.");
  EXPECT_EQ(other->Command("NOOP"), "200 NOOP Command Successful.");
  EXPECT_EQ(server_->FindUser("bob"), nullptr);
  EXPECT_EQ(server_->userCount(), 1u);
  EXPECT_FALSE(server_->DeleteUser(nullptr));
}

}  // namespace
}  // namespace vrax::ftp::test
