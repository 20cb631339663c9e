// Helpers for the reference server's tests: requests written as literal text, sent through the
// transport's in-process delivery to an embedded server, and answers read back with pugixml.
#ifndef DOCSEC_TOOLS_SERVER_SERVER_TEST_UTIL_H_
#define DOCSEC_TOOLS_SERVER_SERVER_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "tools/server/demo_data.h"
#include "tools/server/embedded.h"

namespace docsec::server::testing {

// A directory of its own under the tests' temporary directory, made fresh (mkdtemp) so that
// parallel runs, of this checkout or of another, never share files; removed with its contents.
class ScopedTempDir {
 public:
  explicit ScopedTempDir(const std::string& prefix);
  ~ScopedTempDir();
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  // "" when no directory could be made.
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A clock the tests move by hand.
class ManualClock {
 public:
  NowFunction function() {
    return [this] { return ServerClock::time_point(std::chrono::seconds(seconds_.load())); };
  }
  void Advance(std::chrono::seconds by) { seconds_ += by.count(); }

 private:
  std::atomic<int64_t> seconds_{1000000};
};

// Options that keep tests fast: cheap hashes, an in-memory database.
ServerOptions FastOptions();

// The full request text for `service` with `content` after the service element.
std::string Request(const std::string& service, const std::string& content = "");

// Sends through svctransport (entry point 1 or 2) and gives the answer's text, "" for none.
std::string Exchange(const std::string& request, int entry_point = 1);

struct Answer {
  std::shared_ptr<pugi::xml_document> document;
  pugi::xml_node root;
  int code = -1;  // -1: no answer or no code
  // The children of the root named `tag`.
  std::vector<pugi::xml_node> All(const char* tag) const;
};
Answer ParseAnswer(const std::string& text);

// An embedded server seeded with the demo, logged in as nobody.
class DemoServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Sends `service` with `content` and parses the answer.
  Answer Call(const std::string& service, const std::string& content = "", int entry_point = 1);
  // Logs in through the transport; the code of the answer.
  int LoginAs(const std::string& account, const std::string& password);

  virtual ServerOptions Options() { return FastOptions(); }

  std::unique_ptr<Embedded> embedded_;
  DemoSummary demo_;
};

}  // namespace docsec::server::testing

#endif  // DOCSEC_TOOLS_SERVER_SERVER_TEST_UTIL_H_
