#include "tools/server/server_test_util.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include "svctransport/svctransport.h"

namespace docsec::server::testing {

ScopedTempDir::ScopedTempDir(const std::string& prefix) {
  std::string pattern = ::testing::TempDir() + "/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

ServerOptions FastOptions() {
  ServerOptions options;
  options.password_iterations = 1000;
  options.initial_admin_password = "first-admin";
  return options;
}

std::string Request(const std::string& service, const std::string& content) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><document><service value=\"" + service +
         "\"/>" + content + "</document>";
}

std::string Exchange(const std::string& request, int entry_point) {
  std::optional<std::string> answer =
      entry_point == 1 ? SvcTransportSend(request) : SvcTransportSendEx(request);
  return answer.value_or(std::string());
}

std::vector<pugi::xml_node> Answer::All(const char* tag) const {
  std::vector<pugi::xml_node> nodes;
  for (pugi::xml_node node : root.children(tag)) nodes.push_back(node);
  return nodes;
}

Answer ParseAnswer(const std::string& text) {
  Answer answer;
  answer.document = std::make_shared<pugi::xml_document>();
  if (!answer.document->load_string(text.c_str())) return answer;
  answer.root = answer.document->document_element();
  pugi::xml_attribute code = answer.root.child("return").attribute("code");
  if (code) answer.code = code.as_int(-1);
  return answer;
}

void DemoServerTest::SetUp() {
  std::string error;
  embedded_ = Embedded::Start(Options(), &error);
  ASSERT_NE(embedded_, nullptr) << error;
  ASSERT_TRUE(SeedDemo(embedded_->server(), DemoOptions(), &demo_, &error)) << error;
}

void DemoServerTest::TearDown() { embedded_.reset(); }

Answer DemoServerTest::Call(const std::string& service, const std::string& content,
                            int entry_point) {
  return ParseAnswer(Exchange(Request(service, content), entry_point));
}

int DemoServerTest::LoginAs(const std::string& account, const std::string& password) {
  return Call("Login", "<user id=\"" + account + "\" password=\"" + password + "\"/>").code;
}

}  // namespace docsec::server::testing
