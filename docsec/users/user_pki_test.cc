// Certificate and offline login: the offline login end to end against a server that seals a known
// enterprise key under the random value it receives, the key's hexadecimal form and its reading;
// the certificate login's request and its result.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "docsec/agent/agent_packet.h"
#include "docsec/platform/crypto.h"
#include "docsec/testing/fake_server.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

using testing::FakeServer;

std::string Hex(const uint8_t* bytes, size_t size) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

// The enterprise key the server hands out; its first bytes show the digit forms (00, AB, 0F).
const uint8_t kEnterpriseKey[16] = {0x00, 0xAB, 0x0F, 0x10, 0x7F, 0x80, 0xFF, 0x01,
                                    0x23, 0x45, 0x67, 0x89, 0xCD, 0xEF, 0x5A, 0xA5};

// The random value of a request's <random data="..."/>, or "" when it has none.
std::string RandomOf(const std::string& request) {
  std::smatch match;
  static const std::regex kData("<random data=\"([^\"]*)\"/>");
  return std::regex_search(request, match, kData) ? match[1].str() : std::string();
}

// The server's side: the enterprise key sealed (one AES-128 block) under the request's random
// value, in the answer's config element with `extra` attributes before it.
std::string SealingAnswer(const std::string& request, const std::string& extra) {
  std::vector<uint8_t> random = Bytes(RandomOf(request));
  if (random.size() != 16) return "<document><return code=\"1\"/></document>";
  uint8_t sealed[16];
  std::memcpy(sealed, kEnterpriseKey, sizeof sealed);
  EncryptBuffer(sealed, sizeof sealed, random.data());
  return "<document><return code=\"0\"/><config " + extra + "enterpriseKey=\"" +
         Hex(sealed, sizeof sealed) + "\"/></document>";
}

// The user's stored "enterpriseKey" text, as its element carries it.
std::string StoredKey(CDOUser& user) {
  XmlDocument doc = XmlDocument::Create();
  XmlElement element = user.AssemblyXmlNode(doc.CreateDocumentElement("r"));
  const char* key = element.GetAttribute("enterpriseKey");
  return key != nullptr ? key : "<unset>";
}

TEST(UserOfflineLogin, StoresTheKeyTheServerSealedUnderTheRandomValue) {
  FakeServer server;
  server.SetResponder([](int, const std::string& request) {
    return SealingAnswer(request, "departmentId=\"12\" ");
  });
  CDOUser user;
  ASSERT_EQ(user.PKIOfflineLogin("alice", "pa\"ss"), 1);
  EXPECT_EQ(server.last_entry_point(), 1);
  const std::string request = server.last_request();
  const std::string random = RandomOf(request);
  EXPECT_TRUE(std::regex_match(random, std::regex("[0-9A-F]{32}"))) << random;
  EXPECT_EQ(request,
            FakeServer::RequestText("<service value=\"AgentOfflineLogin\"/>"
                                    "<user id=\"alice\" password=\"pa&quot;ss\"/><random data=\"" +
                                    random + "\"/>"));
  EXPECT_EQ(StoredKey(user), "00AB0F107F80FF0123456789CDEF5AA5");
  EXPECT_EQ(user.GetDepartmentId(), 12);
  uint8_t key[16] = {};
  ASSERT_EQ(user.GetPKIOfflineData(key), 1);
  EXPECT_EQ(std::memcmp(key, kEnterpriseKey, sizeof key), 0);
  EXPECT_EQ(CDOUser::GetLastLoginUser(), nullptr);  // no login user made or replaced
}

// Fresh and unpredictable in all 128 bits: a UUID's bytes would carry the version digit 4 at
// digit 12 and a variant digit 8 to B at digit 16 every time (a chance of 2^-48 over eight
// logins of random bytes). Answers without a "departmentId", or with one that is not a number,
// leave the user's as it was.
TEST(UserOfflineLogin, EveryLoginSendsAFreshRandomValue) {
  FakeServer server;
  int answers = 0;
  server.SetResponder([&answers](int, const std::string& request) {
    return SealingAnswer(request, ++answers % 2 ? "" : "departmentId=\"none\" ");
  });
  CDOUser user;
  user.SetDepartmentId(5);
  constexpr int kLogins = 8;
  for (int i = 0; i < kLogins; ++i) ASSERT_EQ(user.PKIOfflineLogin("alice", "pw"), 1);
  std::set<std::string> randoms;
  bool all_uuid_shaped = true;
  for (const FakeServer::Request& request : server.requests()) {
    const std::string random = RandomOf(request.text);
    randoms.insert(random);
    all_uuid_shaped = all_uuid_shaped && random[12] == '4' && std::strchr("89AB", random[16]);
  }
  EXPECT_EQ(randoms.size(), static_cast<size_t>(kLogins));
  EXPECT_FALSE(all_uuid_shaped);
  EXPECT_EQ(StoredKey(user), "00AB0F107F80FF0123456789CDEF5AA5");
  EXPECT_EQ(user.GetDepartmentId(), 5);
}

// A key shorter than 32 digits counts its missing digits as zero, and nothing that follows the
// key's text in the answer is read as digits: here the answer's next attribute would give DE.
TEST(UserOfflineLogin, ShortKeyIsZeroFilledNotReadPastItsEnd) {
  FakeServer server;
  std::string random;
  server.SetResponder([&random](int, const std::string& request) {
    random = RandomOf(request);
    return std::string(
        "<document><return code=\"0\"/><config enterpriseKey=\"01\" "
        "departmentId=\"12\"/></document>");
  });
  CDOUser user;
  ASSERT_EQ(user.PKIOfflineLogin("alice", "pw"), 1);
  uint8_t expected[16] = {0x01};
  ASSERT_TRUE(DecryptBuffer(expected, sizeof expected, Bytes(random).data()));
  EXPECT_EQ(StoredKey(user), Hex(expected, sizeof expected));
}

TEST(UserOfflineLogin, MalformedOrRefusedAnswersGiveZeroWithoutThrowing) {
  const char* answers[] = {
      "",                                                                         // no answer
      "<document><return code=\"9\"/><config enterpriseKey=\"00\"/></document>",  // refused
      "<document><return code=\"0\"/></document>",                                // no config
      "<document><return code=\"0\"/><config departmentId=\"3\"/></document>",    // no key
      "<document><return code=\"0\"/><config",                                    // not XML
  };
  for (const char* answer : answers) {
    SCOPED_TRACE(answer);
    FakeServer server;
    server.QueueAnswer(answer);
    CDOUser user;
    user.SetPKIOfflineData("0102");
    int result = -1;
    EXPECT_NO_THROW(result = user.PKIOfflineLogin("alice", "pw"));
    EXPECT_EQ(result, 0);
    EXPECT_EQ(StoredKey(user), "0102");
    EXPECT_EQ(server.request_count(), 1u);
  }
}

TEST(UserOfflineLogin, KeyDigitsParseLeniently) {
  const struct {
    const char* stored;
    const char* expected;  // the 16 bytes as hexadecimal
  } cases[] = {
      {"00ab0f", "00AB0F00000000000000000000000000"},
      {"00AB0F", "00AB0F00000000000000000000000000"},
      {"0102", "01020000000000000000000000000000"},
      {"123", "12030000000000000000000000000000"},   // a lone last digit
      {"1gAB", "01AB0000000000000000000000000000"},  // bad second character: the first alone
      {"g1AB", "00AB0000000000000000000000000000"},  // bad first character: zero
      {"00112233445566778899AABBCCDDEEFF77", "00112233445566778899AABBCCDDEEFF"},
  };
  for (const auto& c : cases) {
    CDOUser user;
    ASSERT_EQ(user.SetPKIOfflineData(c.stored), 1);
    uint8_t key[16];
    std::memset(key, 0xEE, sizeof key);
    ASSERT_EQ(user.GetPKIOfflineData(key), 1) << c.stored;
    EXPECT_EQ(Hex(key, sizeof key), c.expected) << c.stored;
  }
}

TEST(UserOfflineLogin, NoKeyDataWithoutAKeyOrABuffer) {
  CDOUser user;
  uint8_t key[16] = {};
  EXPECT_EQ(user.GetPKIOfflineData(key), 0);  // unset
  user.SetPKIOfflineData("");
  EXPECT_EQ(user.GetPKIOfflineData(key), 0);  // empty
  user.SetPKIOfflineData("0102");
  EXPECT_EQ(user.GetPKIOfflineData(nullptr), 0);
}

// ---- certificate login ----

TEST(UserCertificateLogin, SendsTheProofWithDirectoryCheckAndNoAccount) {
  FakeServer server;
  server.QueueAnswer(FakeServer::AnswerText(
      "<config encryptMode=\"2\"/><user id=\"carol\" name=\"Carol\" departmentId=\"4\"/>"));
  CDOUser receiver;
  std::unique_ptr<CDOUser> user(receiver.ZelkPKILoginEx("sig<ned>", "MIIB", "ok"));
  ASSERT_NE(user, nullptr);
  EXPECT_EQ(server.last_request(),
            FakeServer::RequestText("<service value=\"Login\"/><user signedData=\"sig&lt;ned>\" "
                                    "encodingCert=\"MIIB\" signResult=\"ok\" "
                                    "mustValidateOnLDAPServer=\"true\"/>"));
  EXPECT_EQ(CDOUser::GetLastLoginUser(), user.get());
  EXPECT_EQ(user->GetDepartmentId(), 4);
  EXPECT_EQ(receiver.GetAgentEncryptModule(), 2);  // on the object used to log in
  EXPECT_EQ(user->GetAgentEncryptModule(), -1);
}

TEST(UserCertificateLogin, RefusalOrAnswerWithoutUserGivesNullAndKeepsTheLastLoginUser) {
  FakeServer server;
  server.QueueAnswer(FakeServer::AnswerText("<user id=\"dave\"/>"));
  CDOUser receiver;
  std::unique_ptr<CDOUser> first(receiver.ZelkPKILoginEx("s", "c", "r"));
  ASSERT_NE(first, nullptr);
  for (const char* answer : {"<document><return code=\"12\"/><user id=\"x\"/></document>",
                             "<document><return code=\"0\"/></document>", ""}) {
    server.QueueAnswer(answer);
    EXPECT_EQ(receiver.ZelkPKILoginEx("s", "c", "r"), nullptr) << answer;
    EXPECT_EQ(CDOUser::GetLastLoginUser(), first.get()) << answer;
  }
}

}  // namespace
}  // namespace docsec
