// The reference server's security: sessions, account states, login limits, body caps, stored
// password hashes, certificate and offline logins.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <atomic>
#include <fstream>
#include <iterator>

#include "tools/server/password_hash.h"
#include "tools/server/result_codes.h"
#include "tools/server/server_test_util.h"

namespace docsec::server {
namespace {

using testing::Answer;
using testing::ManualClock;

class SecurityTest : public testing::DemoServerTest {
 protected:
  ServerOptions Options() override {
    ServerOptions options = testing::FastOptions();
    options.now = clock_.function();
    options.max_request_bytes = 4096;
    options.sessions.idle_timeout = std::chrono::seconds(600);
    options.certificate_check = certificate_check_;
    return options;
  }

  ManualClock clock_;
  CertificateCheck certificate_check_;
};

TEST_F(SecurityTest, RequestsWithoutAValidSessionAreRefused) {
  const std::string tree = "<department id=\"1\"/>";
  EXPECT_EQ(Call("GetDepartmentTreeView", tree).code, kNoSession);
  embedded_->set_session(std::string(64, 'f'));  // forged
  EXPECT_EQ(Call("GetDepartmentTreeView", tree).code, kNoSession);
  ASSERT_EQ(LoginAs("admin", "demo-admin"), 0);
  EXPECT_EQ(Call("GetDepartmentTreeView", tree).code, 0);
  clock_.Advance(std::chrono::seconds(601));  // idle too long
  EXPECT_EQ(Call("GetDepartmentTreeView", tree).code, kNoSession);
}

TEST_F(SecurityTest, AccountStatesDecideTheLogin) {
  struct Case {
    const char* account;
    const char* password;
    int code;
  };
  const Case cases[] = {
      {"erin", "demo-erin", kAccountLocked},
      {"erin", "wrong", kBadCredentials},  // the lock is told only to the right password
      {"bob", "demo-bob", kNotConsoleManager},
      {"nobody", "demo-bob", kBadCredentials},
      {"admin", "", kBadCredentials},
  };
  for (const Case& c : cases) EXPECT_EQ(LoginAs(c.account, c.password), c.code) << c.account;
  EXPECT_EQ(Call("Login",
                 "<user id=\"admin\" password=\"demo-admin\""
                 " mustValidateOnLDAPServer=\"true\"/>")
                .code,
            kDirectoryNotConfigured);
  EXPECT_TRUE(embedded_->session().empty());
}

TEST_F(SecurityTest, LockingAnAccountEndsItsSessions) {
  Server& server = embedded_->server();
  Response admin = server.Handle(
      {1, testing::Request("Login", "<user id=\"admin\" password=\"demo-admin\"/>"), ""});
  Response eng = server.Handle(
      {1, testing::Request("Login", "<user id=\"eng.admin\" password=\"demo-eng\"/>"), ""});
  ASSERT_FALSE(eng.session.empty());
  std::string tree = testing::Request("GetDepartmentTreeView", "<department id=\"3\"/>");
  EXPECT_EQ(server.Handle({1, tree, eng.session}).code, 0);
  ASSERT_EQ(
      server
          .Handle({1, testing::Request("UpdateUser", "<user id=\"eng.admin\" isLock=\"true\"/>"),
                   admin.session})
          .code,
      0);
  EXPECT_EQ(server.Handle({1, tree, eng.session}).code, kNoSession);
}

TEST_F(SecurityTest, ALoginFloodHoldsTheAccount) {
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(LoginAs("admin", "guess" + std::to_string(i)), kBadCredentials);
  EXPECT_EQ(LoginAs("admin", "demo-admin"), kTooManyAttempts);  // even the right password
  EXPECT_EQ(LoginAs("eng.admin", "demo-eng"), 0);               // other accounts are not held
  clock_.Advance(std::chrono::minutes(6));
  EXPECT_EQ(LoginAs("admin", "demo-admin"), 0);
}

TEST_F(SecurityTest, OversizedAndDeepRequestsChangeNothing) {
  ASSERT_EQ(LoginAs("admin", "demo-admin"), 0);
  std::string name(5000, 'x');
  EXPECT_EQ(Call("AddDepartment", "<department name=\"" + name + "\" superDeptId=\"1\"/>").code,
            kRequestTooLarge);
  EXPECT_TRUE(Call("QueryDepartment", "<department name=\"xxxx\"/>").All("department").empty());

  // Nesting far deeper than any request needs is parsed without recursion and ignored.
  std::string deep;
  for (int i = 0; i < 400; ++i) deep += "<a>";
  for (int i = 0; i < 400; ++i) deep += "</a>";
  EXPECT_EQ(Call("QueryUser", "<user id=\"bob\">" + deep + "</user>").code, 0);
}

TEST_F(SecurityTest, PasswordsAreStoredOnlyAsSaltedHashes) {
  testing::ScopedTempDir dir("docsec-server-hashes");
  ASSERT_FALSE(dir.path().empty());
  std::string path = dir.File("server.db");
  ServerOptions options = testing::FastOptions();
  options.database = path;
  options.initial_admin_password = "Unmistakable-Password-42";
  std::string error;
  {
    auto server = Server::Open(options, &error);
    ASSERT_NE(server, nullptr) << error;
  }
  std::ifstream file(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes.find("Unmistakable-Password-42"), std::string::npos);
  EXPECT_NE(bytes.find("pbkdf2-sha256$1000$"), std::string::npos);

  // A login under a higher iteration count stores a stronger hash of the same password.
  options.password_iterations = 2000;
  auto server = Server::Open(options, &error);
  ASSERT_NE(server, nullptr) << error;
  ASSERT_EQ(server
                ->Handle({1,
                          testing::Request("Login",
                                           "<user id=\"admin\""
                                           " password=\"Unmistakable-Password-42\"/>"),
                          ""})
                .code,
            0);
  server.reset();
  std::ifstream again(path, std::ios::binary);
  bytes.assign(std::istreambuf_iterator<char>(again), std::istreambuf_iterator<char>());
  EXPECT_NE(bytes.find("pbkdf2-sha256$2000$"), std::string::npos);
}

TEST(ServerTimeLimit, ARequestPastItsLimitIsStopped) {
  ServerOptions options = testing::FastOptions();
  options.request_timeout = std::chrono::milliseconds(0);
  std::string error;
  auto server = Server::Open(options, &error);
  ASSERT_NE(server, nullptr) << error;
  ASSERT_TRUE(SeedLargeOrganisation(*server, 2600, &error)) << error;
  std::string session = server->sessions().Open("admin");
  Response tree = server->Handle(
      {1,
       testing::Request("GetDepartmentTreeView",
                        "<department id=\"1\" isWithUsers=\"true\" isWithComputers=\"true\"/>"),
       session});
  EXPECT_EQ(tree.code, kTimedOut);
  EXPECT_EQ(tree.body.find("<department "), std::string::npos);
}

TEST(PasswordHash, SaltsDifferAndOnlyTheRightPasswordVerifies) {
  std::string first = HashPassword("secret", 1000);
  std::string second = HashPassword("secret", 1000);
  EXPECT_NE(first, second);
  EXPECT_TRUE(VerifyPassword("secret", first));
  EXPECT_FALSE(VerifyPassword("Secret", first));
  for (const char* stored :
       {"", "pbkdf2-sha256$1000$zz$00", "md5$1$00$00", "pbkdf2-sha256$99999999999$00$00"}) {
    EXPECT_FALSE(VerifyPassword("secret", stored)) << stored;
  }
}

class CertificateLoginTest : public SecurityTest {
 protected:
  ServerOptions Options() override {
    certificate_check_ = [](const std::string& signed_data, const std::string&,
                            const std::string& signature) {
      return signature == "valid-signature-of-" + signed_data ? std::string("eng.admin")
                                                              : std::string();
    };
    return SecurityTest::Options();
  }
};

TEST_F(SecurityTest, CertificateLoginIsNotConfiguredByDefault) {
  EXPECT_EQ(Call("Login",
                 "<user signedData=\"d\" encodingCert=\"c\" signResult=\"s\""
                 " mustValidateOnLDAPServer=\"true\"/>")
                .code,
            kCertificateNotConfigured);
}

TEST_F(CertificateLoginTest, TheConfiguredCheckDecides) {
  EXPECT_EQ(Call("Login",
                 "<user signedData=\"d\" encodingCert=\"c\" signResult=\"forged\""
                 " mustValidateOnLDAPServer=\"true\"/>")
                .code,
            kCertificateRejected);
  Answer answer = Call("Login",
                       "<user signedData=\"d\" encodingCert=\"c\""
                       " signResult=\"valid-signature-of-d\""
                       " mustValidateOnLDAPServer=\"true\"/>");
  ASSERT_EQ(answer.code, 0);
  EXPECT_STREQ(answer.root.child("user").attribute("id").value(), "eng.admin");
}

TEST_F(SecurityTest, OfflineLoginSealsTheEnterpriseKeyUnderTheClientsRandom) {
  const uint8_t random[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xba, 0xdc, 0xfe,
                              0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  Answer answer = Call("AgentOfflineLogin",
                       "<user id=\"bob\" password=\"demo-bob\"/>"
                       "<random data=\"1032547698BADCFE0123456789ABCDEF\"/>");
  ASSERT_EQ(answer.code, 0);
  pugi::xml_node config = answer.root.child("config");
  EXPECT_STREQ(config.attribute("departmentId").value(), "5");
  std::string sealed = config.attribute("enterpriseKey").value();
  ASSERT_EQ(sealed.size(), 32u);
  uint8_t block[16];
  for (int i = 0; i < 16; ++i)
    block[i] = static_cast<uint8_t>(std::stoi(sealed.substr(2 * i, 2), nullptr, 16));
  EVP_CIPHER_CTX* cipher = EVP_CIPHER_CTX_new();
  int written = 0;
  ASSERT_EQ(EVP_DecryptInit_ex(cipher, EVP_aes_128_ecb(), nullptr, random, nullptr), 1);
  EVP_CIPHER_CTX_set_padding(cipher, 0);
  ASSERT_EQ(EVP_DecryptUpdate(cipher, block, &written, block, 16), 1);
  EVP_CIPHER_CTX_free(cipher);
  static const char kDigits[] = "0123456789ABCDEF";
  std::string key;
  for (uint8_t b : block) key += {kDigits[b >> 4], kDigits[b & 15]};
  EXPECT_EQ(key, demo_.enterprise_key);
  EXPECT_TRUE(embedded_->session().empty());  // the key is all an offline login gets

  EXPECT_EQ(
      Call("AgentOfflineLogin", "<user id=\"bob\" password=\"wrong\"/><random data=\"00\"/>").code,
      kBadValue);
  EXPECT_EQ(Call("AgentOfflineLogin",
                 "<user id=\"bob\" password=\"wrong\"/>"
                 "<random data=\"1032547698BADCFE0123456789ABCDEF\"/>")
                .code,
            kBadCredentials);
}

TEST_F(SecurityTest, OnlySupervisorsChangeServerWideSettings) {
  ASSERT_EQ(LoginAs("eng.admin", "demo-eng"), 0);
  EXPECT_EQ(Call("SetUninstallPwd", "<parameter pwd=\"x\"/>").code, kPermissionDenied);
  EXPECT_EQ(Call("AutoUpdate").code, kPermissionDenied);
  EXPECT_EQ(Call("SetScanFileTypeAtConsole", "<extends/>").code, kPermissionDenied);
  EXPECT_EQ(Call("UpdateUser", "<user id=\"admin\" password=\"taken-over\"/>").code,
            kPermissionDenied);
  EXPECT_EQ(Call("UpdateUser", "<user id=\"bob\" adminDept=\"1\"/>").code, kPermissionDenied);
  ASSERT_EQ(LoginAs("admin", "demo-admin"), 0);
  EXPECT_EQ(Call("SetUninstallPwd", "<parameter pwd=\"\"/>").code, 0);
  EXPECT_EQ(Call("AutoUpdate").code, 0);
}

}  // namespace
}  // namespace docsec::server
