#include "tools/server/server.h"

#include <gtest/gtest.h>

namespace docsec::server {
namespace {

TEST(Server, Opens) {
  ServerOptions options;
  options.password_iterations = 1000;
  std::string error;
  auto server = Server::Open(options, &error);
  ASSERT_NE(server, nullptr) << error;
}

}  // namespace
}  // namespace docsec::server
