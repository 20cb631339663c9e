// The network side end to end: svctransport's network delivery against the server's HTTP(S)
// listener on 127.0.0.1, with a certificate authority made for the test; and recording a session
// and replaying it without a server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "docsec/org/department.h"
#include "docsec/users/user.h"
#include "docsec/testing/test_certificates.h"
#include "svctransport/svctransport.h"
#include "tools/server/http_server.h"
#include "tools/server/result_codes.h"
#include "tools/server/server_test_util.h"

namespace docsec::server {
namespace {

using testing::Answer;
using testing::ParseAnswer;
using testing::Request;

class NetworkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // ctest runs the tests of this file as parallel processes: each makes its own directory.
    dir_ = new testing::ScopedTempDir("docsec-server-tls");
    certificates_ = !dir_->path().empty() && docsec::testing::MakeTestCertificates(dir_->path());
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override {
    std::string error;
    ServerOptions options = testing::FastOptions();
    options.max_request_bytes = 64 * 1024;
    server_ = Server::Open(options, &error);
    ASSERT_NE(server_, nullptr) << error;
    ASSERT_TRUE(SeedDemo(*server_, DemoOptions(), nullptr, &error)) << error;
  }

  void TearDown() override {
    std::string error;
    SvcTransportConfigure(SvcTransportConfig(), &error);
    if (http_) http_->Stop();
  }

  // Starts the listener (HTTPS with the certificate `name`.pem when `tls`) and points the
  // transport at it.
  void Serve(bool tls, const std::string& ca_file, const std::string& name = "server") {
    HttpOptions options;
    options.keep_alive_timeout = std::chrono::seconds(1);
    if (tls) {
      ASSERT_TRUE(certificates_) << "the openssl program could not make test certificates";
      options.tls_cert = dir_->File(name + ".pem");
      options.tls_key = dir_->File(name + ".key");
    }
    http_ = std::make_unique<HttpServer>(*server_, options);
    std::string error;
    ASSERT_TRUE(http_->Start(&error)) << error;
    SvcTransportConfig config;
    config.server =
        std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(http_->port());
    config.ca_file = ca_file;
    config.timeout_ms = 10000;
    ASSERT_TRUE(SvcTransportConfigure(config, &error)) << error;
  }

  static Answer Send(const std::string& service, const std::string& content, int entry = 1) {
    std::optional<std::string> text = entry == 1 ? SvcTransportSend(Request(service, content))
                                                 : SvcTransportSendEx(Request(service, content));
    return ParseAnswer(text.value_or(""));
  }

  static testing::ScopedTempDir* dir_;
  static bool certificates_;
  std::unique_ptr<Server> server_;
  std::unique_ptr<HttpServer> http_;
};

testing::ScopedTempDir* NetworkTest::dir_ = nullptr;
bool NetworkTest::certificates_ = false;

TEST_F(NetworkTest, HttpsWithTheTrustedAuthorityCarriesTheSession) {
  Serve(true, dir_->File("ca.pem"));
  EXPECT_EQ(Send("GetDepartmentTreeView", "<department id=\"1\"/>").code, kNoSession);
  ASSERT_EQ(Send("Login", "<user id=\"eng.admin\" password=\"demo-eng\"/>").code, 0);
  EXPECT_EQ(SvcTransportSessionToken().size(), 64u);
  Answer tree = Send("GetDepartmentTreeView", "<department id=\"3\" isWithUsers=\"true\"/>");
  ASSERT_EQ(tree.code, 0);
  EXPECT_STREQ(tree.root.child("department").attribute("name").value(), "Engineering");
  Answer logs = Send("QueryLog", "<databaseIndex value=\"0\"/><log pageSum=\"5\"/>", 2);
  EXPECT_EQ(logs.All("log").size(), 5u);
  SvcTransportForgetSession();
  EXPECT_EQ(Send("GetDepartmentTreeView", "<department id=\"3\"/>").code, kNoSession);
}

// The library's own classes over HTTPS: the session rides in the transport, not in the XML.
TEST_F(NetworkTest, TheLibraryLogsInAndLoadsItsTreeOverHttps) {
  Serve(true, dir_->File("ca.pem"));
  CDOUser login;
  std::unique_ptr<CDOUser> user(login.LoginEx("sales.admin", "demo-sales", 0));
  ASSERT_NE(user, nullptr);
  std::unique_ptr<CDODepartment> sales(user->GetAdminedRootDeptpartment());
  ASSERT_NE(sales, nullptr);
  ASSERT_NE(sales->GetSubDepartments(), nullptr);
  EXPECT_EQ(sales->GetSubDepartments()->size(), 2u);
  auto* region = new CDODepartment();
  region->SetName("West");
  ASSERT_EQ(sales->AddSubDepartment(region), 1);
  EXPECT_EQ(sales->GetSubDepartments()->size(), 3u);

  SvcTransportConfig untrusted;
  untrusted.server = "https://127.0.0.1:" + std::to_string(http_->port());
  untrusted.ca_file = dir_->File("other.pem");
  std::string error;
  ASSERT_TRUE(SvcTransportConfigure(untrusted, &error)) << error;
  EXPECT_EQ(login.LoginEx("sales.admin", "demo-sales", 0), nullptr);
}

TEST_F(NetworkTest, AnUntrustedCertificateGivesNoAnswer) {
  Serve(true, dir_->File("other.pem"));
  EXPECT_FALSE(SvcTransportSend(Request("Login", "<user id=\"admin\" password=\"demo-admin\"/>")));
}

// Each way a TLS connection goes wrong gives its own cause, with the verifier's or the peer's
// own words.
TEST_F(NetworkTest, TlsAndSchemeMistakesAreNamed) {
  using Kind = SvcTransportFailureKind;
  struct Case {
    const char* what;
    bool tls;
    const char* ca;
    const char* certificate;
    const char* scheme;  // what the transport is pointed at
    Kind kind;
    const char* words;  // in the text
  };
  const Case cases[] = {
      {"unknown authority", true, "other.pem", "server", "https", Kind::kCertificateUntrusted,
       "certificate"},
      {"certificate for another name", true, "ca.pem", "elsewhere", "https",
       Kind::kCertificateWrongName, "name"},
      {"http to an HTTPS port", true, "ca.pem", "server", "http", Kind::kConnectionClosed, "HTTPS"},
      {"https to an HTTP port", false, "", "server", "https", Kind::kTlsFailure, "TLS"},
  };
  for (const Case& c : cases) {
    Serve(c.tls, c.ca[0] ? dir_->File(c.ca) : "", c.certificate);
    SvcTransportConfig config;
    config.server = std::string(c.scheme) + "://127.0.0.1:" + std::to_string(http_->port());
    config.ca_file = c.ca[0] ? dir_->File(c.ca) : "";
    config.timeout_ms = 5000;
    std::string error;
    ASSERT_TRUE(SvcTransportConfigure(config, &error)) << error;
    EXPECT_FALSE(SvcTransportSend(Request("Login", "<user id=\"admin\"/>"))) << c.what;
    SvcTransportFailure failure = SvcTransportLastFailure();
    EXPECT_EQ(failure.kind, c.kind) << c.what << ": " << failure.text;
    EXPECT_NE(failure.text.find(c.words), std::string::npos) << c.what << ": " << failure.text;
    http_->Stop();
  }
}

TEST_F(NetworkTest, PlainHttpRefusesOversizedBodiesUnread) {
  Serve(false, "");
  ASSERT_EQ(Send("Login", "<user id=\"admin\" password=\"demo-admin\"/>").code, 0);
  std::string name(100 * 1024, 'n');
  EXPECT_FALSE(SvcTransportSend(
      Request("AddDepartment", "<department name=\"" + name + "\" superDeptId=\"1\"/>")));
  EXPECT_TRUE(Send("QueryDepartment", "<department name=\"nnnn\"/>").All("department").empty());
  EXPECT_EQ(Send("QueryDepartment", "<department id=\"1\"/>").All("department").size(), 1u);
}

// A raw TCP connection to the listener on 127.0.0.1, closed with the object.
class RawConnection {
 public:
  explicit RawConnection(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      close(fd_);
      fd_ = -1;
    }
    timeval timeout{10, 0};  // no read or write in these tests may wait longer
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (fd_ >= 0) setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  }
  ~RawConnection() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  // Sends all of `data`; false once the peer no longer takes it.
  bool Send(const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<size_t>(n);
    }
    return true;
  }
  // What arrives until the peer closes or stays silent for the read time-out.
  std::string Receive() {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd_, buffer, sizeof buffer, 0)) > 0)
      text.append(buffer, static_cast<size_t>(n));
    return text;
  }

 private:
  int fd_ = -1;
};

// Clients that connect and say nothing, or trickle a request's head a byte at a time, hold no
// one else up: a login still gets its answer at once.
TEST_F(NetworkTest, SlowAndSilentClientsDoNotDelayOthers) {
  Serve(false, "");
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 200; ++i) {
    idle.push_back(std::make_unique<RawConnection>(http_->port()));
    ASSERT_TRUE(idle.back()->ok());
  }
  const std::string head = "POST /svc HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  for (size_t i = 0; i < idle.size(); i += 2) idle[i]->Send(head.substr(0, 1));
  std::atomic<bool> trickling{true};
  std::thread trickle([&] {
    for (size_t at = 1; trickling && at < head.size(); ++at) {
      for (size_t i = 0; i < idle.size(); i += 2) idle[i]->Send(head.substr(at, 1));
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  auto begin = std::chrono::steady_clock::now();
  Answer login = Send("Login", "<user id=\"admin\" password=\"demo-admin\"/>");
  auto took = std::chrono::steady_clock::now() - begin;
  trickling = false;
  trickle.join();
  idle.clear();
  EXPECT_EQ(login.code, 0);
  EXPECT_LT(took, std::chrono::seconds(1));
}

// A chunked body is cut off at the cap while it arrives: the server answers 413 and stops
// reading long before the client has sent it all (the cap here is 64 KiB, the body 64 MiB).
TEST_F(NetworkTest, AChunkedBodyIsRefusedAtTheCapWhileItArrives) {
  Serve(false, "");
  RawConnection client(http_->port());
  ASSERT_TRUE(client.ok());
  ASSERT_TRUE(
      client.Send("POST /svc HTTP/1.1\r\nHost: 127.0.0.1\r\nTransfer-Encoding: chunked\r\n"
                  "Content-Type: application/xml\r\n\r\n"));
  const std::string chunk = "10000\r\n" + std::string(0x10000, 'x') + "\r\n";
  size_t sent = 0;
  while (sent < (64u << 20) && client.Send(chunk)) sent += 0x10000;
  EXPECT_LT(sent, 32u << 20) << "the server read on past its cap";
  EXPECT_NE(client.Receive().find(" 413 "), std::string::npos);
}

TEST_F(NetworkTest, StoppingDoesNotWaitForAClientStillSendingItsRequest) {
  Serve(false, "");
  RawConnection slow(http_->port());
  ASSERT_TRUE(slow.ok());
  ASSERT_TRUE(slow.Send("P"));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto begin = std::chrono::steady_clock::now();
  http_->Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(2));
}

TEST_F(NetworkTest, ASecondListenerOnATakenPortIsRefused) {
  Serve(false, "");
  HttpOptions options;
  options.port = http_->port();
  HttpServer second(*server_, options);
  std::string error;
  EXPECT_FALSE(second.Start(&error));
  EXPECT_NE(error.find(std::to_string(http_->port())), std::string::npos) << error;
}

TEST_F(NetworkTest, NoServerConfiguredMeansNoAnswer) {
  std::string error;
  ASSERT_TRUE(SvcTransportConfigure(SvcTransportConfig(), &error));
  EXPECT_FALSE(SvcTransportSend(Request("Login")));
  SvcTransportConfig bad;
  bad.server = "ftp://127.0.0.1:21";
  EXPECT_FALSE(SvcTransportConfigure(bad, &error));
  EXPECT_NE(error.find("http"), std::string::npos);
}

TEST_F(NetworkTest, TheEnvironmentConfiguresTheTransport) {
  Serve(false, "");
  std::string server = "http://127.0.0.1:" + std::to_string(http_->port());
  std::string error;
  ASSERT_TRUE(SvcTransportConfigure(SvcTransportConfig(), &error));
  setenv("DOCSEC_SERVER", server.c_str(), 1);
  setenv("DOCSEC_TIMEOUT_MS", "soon", 1);
  EXPECT_FALSE(SvcTransportConfigureFromEnvironment(&error));
  setenv("DOCSEC_TIMEOUT_MS", "5000", 1);
  EXPECT_TRUE(SvcTransportConfigureFromEnvironment(&error)) << error;
  unsetenv("DOCSEC_SERVER");
  unsetenv("DOCSEC_TIMEOUT_MS");
  EXPECT_EQ(Send("Login", "<user id=\"admin\" password=\"demo-admin\"/>").code, 0);
}

// A configuration file names the server; a variable set beside it wins, and a line that is no
// setting refuses the whole file.
TEST_F(NetworkTest, AConfigurationFileConfiguresTheTransport) {
  Serve(false, "");
  std::string path = dir_->File("transport.conf");
  std::string error;
  {
    std::ofstream file(path);
    file << "# the reference server\n"
         << "server = http://127.0.0.1:" << http_->port() << "\n  timeout_ms = 5000  \n";
  }
  ASSERT_TRUE(SvcTransportConfigure(SvcTransportConfig(), &error));
  setenv("DOCSEC_TRANSPORT_CONFIG", path.c_str(), 1);
  EXPECT_TRUE(SvcTransportConfigureFromEnvironment(&error)) << error;
  EXPECT_EQ(Send("Login", "<user id=\"admin\" password=\"demo-admin\"/>").code, 0);

  setenv("DOCSEC_SERVER", "http://127.0.0.1:1", 1);  // nothing listens there
  EXPECT_TRUE(SvcTransportConfigureFromEnvironment(&error)) << error;
  EXPECT_FALSE(SvcTransportSend(Request("Login")));
  unsetenv("DOCSEC_SERVER");

  std::ofstream(path, std::ios::app) << "verify peer off\n";
  EXPECT_FALSE(SvcTransportConfigureFromEnvironment(&error));
  EXPECT_NE(error.find("verify peer off"), std::string::npos) << error;
  unsetenv("DOCSEC_TRANSPORT_CONFIG");
}

// A session recorded against the server answers the same without it, also when the replayed
// requests carry other times and random values.
TEST_F(NetworkTest, ARecordedSessionReplaysWithoutTheServer) {
  std::string path = dir_->File("session.rec");
  std::remove(path.c_str());
  Serve(false, "");
  SvcTransportConfig config;
  config.server = "http://127.0.0.1:" + std::to_string(http_->port());
  config.record_file = path;
  std::string error;
  ASSERT_TRUE(SvcTransportConfigure(config, &error)) << error;
  const std::string kRandom = "<random data=\"0123456789ABCDEF0123456789ABCDEF\"/>";
  std::vector<std::pair<std::string, std::string>> session = {
      {"Login", "<user id=\"admin\" password=\"demo-admin\"/>"},
      {"GetDepartmentTreeView", "<department id=\"1\" isWithComputers=\"true\"/>"},
      {"QueryLog",
       "<databaseIndex value=\"0\"/><log operationTimeFrom=\"2024-03-02 00:00:00\" "
       "pageSum=\"3\"/>"},
      {"AgentOfflineLogin", "<user id=\"bob\" password=\"demo-bob\"/>" + kRandom}};
  std::vector<std::string> recorded;
  for (const auto& [service, content] : session) {
    recorded.push_back(SvcTransportSend(Request(service, content)).value_or(""));
    ASSERT_EQ(ParseAnswer(recorded.back()).code, 0) << service;
  }
  http_->Stop();

  SvcTransportConfig replay;
  replay.replay_file = path;
  ASSERT_TRUE(SvcTransportConfigure(replay, &error)) << error;
  for (size_t i = 0; i < session.size(); ++i) {
    EXPECT_EQ(SvcTransportSend(Request(session[i].first, session[i].second)).value_or(""),
              recorded[i]);
  }
  std::string other_time =
      "<databaseIndex value=\"0\"/><log operationTimeFrom=\"2025-01-01 09:30:00\" pageSum=\"3\"/>";
  EXPECT_EQ(SvcTransportSend(Request("QueryLog", other_time)).value_or(""), recorded[2]);
  EXPECT_EQ(SvcTransportSend(Request("AgentOfflineLogin",
                                     "<user id=\"bob\" password=\"demo-bob\"/>"
                                     "<random data=\"FFEEDDCCBBAA99887766554433221100\"/>"))
                .value_or(""),
            recorded[3]);
  EXPECT_FALSE(SvcTransportSend(Request("QueryUser", "<user id=\"never-asked\"/>")));
  EXPECT_FALSE(SvcTransportSendEx(Request("Login", session[0].second)));  // other entry point
}

}  // namespace
}  // namespace docsec::server
