// A test fixture for the console's pieces: a demo environment (seeded database, three reference
// agents on loopback addresses), its database opened by an embedded server, and the admin logged
// in with the administered tree loaded.
#ifndef DOCSEC_TOOLS_CLI_DEMO_TEST_FIXTURE_H_
#define DOCSEC_TOOLS_CLI_DEMO_TEST_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "docsec/logs/log_outbox.h"
#include "docsec/org/department.h"
#include "docsec/policy/application.h"
#include "docsec/policy/secret_level.h"
#include "docsec/users/user.h"
#include "tools/cli/demo_environment.h"
#include "tools/server/embedded.h"

namespace docsec::cli::testing {

class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    environment_ = DemoEnvironment::Create("", false, &error);
    ASSERT_NE(environment_, nullptr) << error;
    SetLogOutboxDirectory((environment_->directory() + "/outbox").c_str());
    server::ServerOptions options;
    options.database = environment_->database();
    options.password_iterations = 1000;
    embedded_ = server::Embedded::Start(options, &error);
    ASSERT_NE(embedded_, nullptr) << error;
    CDOUser login;
    admin_.reset(login.LoginEx("admin", "demo-admin", 0));
    ASSERT_NE(admin_, nullptr);
    tree_.reset(admin_->GetAdminedRootDeptpartment());
    ASSERT_NE(tree_, nullptr);
  }
  void TearDown() override {
    tree_.reset();
    admin_.reset();
    CDOSecretLevel::ReleaseAllInstance();
    CDOApplication::ReleaseAllInstance();
    embedded_.reset();
    SetLogOutboxDirectory(nullptr);
    environment_.reset();
  }

  std::unique_ptr<DemoEnvironment> environment_;
  std::unique_ptr<server::Embedded> embedded_;
  std::unique_ptr<CDOUser> admin_;
  std::unique_ptr<CDODepartment> tree_;
};

}  // namespace docsec::cli::testing

#endif  // DOCSEC_TOOLS_CLI_DEMO_TEST_FIXTURE_H_
