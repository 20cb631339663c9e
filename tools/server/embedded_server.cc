#include "docsec/server/embedded_server.h"

#include <utility>

#include "tools/server/demo_data.h"
#include "tools/server/embedded.h"

namespace docsec::server {
namespace {

// Fewer rounds than this would make the stored hashes of a file database worthless.
constexpr int kMinPasswordIterations = 1000;

}  // namespace

struct EmbeddedServer::State {
  std::unique_ptr<Embedded> embedded;
  std::vector<EmbeddedAccount> accounts;
  std::string enterprise_key;
};

std::unique_ptr<EmbeddedServer> EmbeddedServer::Start(const EmbeddedServerOptions& options,
                                                      std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  ServerOptions server_options;
  server_options.database = options.database;
  if (options.password_iterations != 0) {
    if (options.password_iterations < kMinPasswordIterations) {
      *error = "password_iterations must be 0 (the default) or at least " +
               std::to_string(kMinPasswordIterations) + ", not " +
               std::to_string(options.password_iterations);
      return nullptr;
    }
    server_options.password_iterations = options.password_iterations;
  }
  auto state = std::make_unique<State>();
  state->embedded = Embedded::Start(std::move(server_options), error);
  if (!state->embedded) return nullptr;
  Server& server = state->embedded->server();
  if (options.demo) {
    DemoSummary summary;
    // On failure the Embedded dies with `state`, which puts the earlier handler back.
    if (!SeedDemo(server, DemoOptions(), &summary, error)) return nullptr;
    for (DemoAccount& account : summary.accounts) {
      state->accounts.push_back(
          {std::move(account.id), std::move(account.password), std::move(account.role)});
    }
    state->enterprise_key = std::move(summary.enterprise_key);
  } else if (!server.initial_admin_password().empty()) {
    state->accounts.push_back({"admin", server.initial_admin_password(), "supervisor"});
  }
  return std::unique_ptr<EmbeddedServer>(new EmbeddedServer(std::move(state)));
}

EmbeddedServer::EmbeddedServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

EmbeddedServer::~EmbeddedServer() = default;

const std::vector<EmbeddedAccount>& EmbeddedServer::accounts() const { return state_->accounts; }

const std::string& EmbeddedServer::enterprise_key() const { return state_->enterprise_key; }

}  // namespace docsec::server
