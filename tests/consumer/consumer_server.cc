// A console's own test in miniature: it starts the embedded reference server with the demo
// organisation from an installed tree, logs in through the library and loads the tree each
// account administers. Prints what failed and exits non-zero on failure.
#include <docsec/docsec.h>
#include <docsec/server/embedded_server.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string NameOf(docsec::CDODepartment* department) {
  char name[260] = {};
  department->GetName(name, sizeof name);
  return name;
}

// The departments of the tree under `department`, itself included.
int CountTree(docsec::CDODepartment* department) {
  int count = 1;
  if (docsec::DataObjectList* subs = department->GetSubDepartments()) {
    for (int i = 0; i < subs->GetSize(); ++i) {
      count += CountTree(static_cast<docsec::CDODepartment*>(subs->GetAt(i)));
    }
  }
  return count;
}

}  // namespace

int main() {
  docsec::server::EmbeddedServerOptions options;
  options.password_iterations = 1000;
  std::string error;
  std::unique_ptr<docsec::server::EmbeddedServer> server =
      docsec::server::EmbeddedServer::Start(options, &error);
  if (!server) {
    std::fprintf(stderr, "consumer_server: the embedded server did not start: %s\n", error.c_str());
    return 1;
  }
  struct Case {
    const char* account;
    bool right_password;
    const char* root;  // the administered top department; null when the login must fail
    int departments;
  };
  const Case cases[] = {
      {"admin", true, "Demo Corp", 10},
      {"eng.admin", true, "Engineering", 5},
      {"eng.admin", false, nullptr, 0},
      {"nobody", true, nullptr, 0},
  };
  int failures = 0;
  for (const Case& c : cases) {
    std::string password = "not the password";
    for (const docsec::server::EmbeddedAccount& account : server->accounts()) {
      if (account.id == c.account && c.right_password) password = account.password;
    }
    docsec::CDOUser prototype;
    std::unique_ptr<docsec::CDOUser> user(prototype.Login(c.account, password.c_str()));
    std::string got;
    if (user) {
      std::unique_ptr<docsec::CDODepartment> root(user->GetAdminedRootDeptpartment());
      got = root ? NameOf(root.get()) + " with " + std::to_string(CountTree(root.get())) +
                       " departments"
                 : "no tree";
    } else {
      got = "refused";
    }
    const std::string want = c.root == nullptr ? "refused"
                                               : std::string(c.root) + " with " +
                                                     std::to_string(c.departments) + " departments";
    if (got != want) {
      std::fprintf(stderr, "consumer_server: %s (%s password): %s, expected %s\n", c.account,
                   c.right_password ? "right" : "wrong", got.c_str(), want.c_str());
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}
