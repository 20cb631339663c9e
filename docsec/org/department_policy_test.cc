// A department's policies and default application levels, through the in-process server.
#include <gtest/gtest.h>

#include <string>

#include "docsec/org/department.h"
#include "docsec/policy/application.h"
#include "docsec/policy/dept_def_app_secret_level.h"
#include "docsec/policy/policy.h"
#include "docsec/policy/secret_level.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::FakeServer;

// A root with child 7 loaded by a tree refresh; the policy objects go into the child.
class DepartmentPolicies : public ::testing::Test {
 protected:
  void SetUp() override {
    XmlDocument doc = XmlDocument::Create();
    ASSERT_TRUE(
        doc.LoadXml(std::string("<department id=\"1\"><department id=\"7\" name=\"B\">"
                                "<user id=\"u1\"/></department></department>")));
    ASSERT_EQ(root_.LoadFromXmlNode(doc.DocumentElement()), 1);
    child_ = static_cast<CDODepartment*>(root_.GetSubDepartments()->GetAt(0));
  }
  void TearDown() override {
    CDOApplication::ReleaseAllInstance();
    CDOSecretLevel::ReleaseAllInstance();
  }

  FakeServer server_;
  CDODepartment root_;
  CDODepartment* child_ = nullptr;
};

TEST_F(DepartmentPolicies, RefreshThenApplySendsOnlyPoliciesWithPermissions) {
  CDOSecretLevel inner(3, "Inner", ""), secret(5, "Secret", "");
  EXPECT_EQ(child_->GetPolicy(&inner), nullptr);  // never refreshed

  server_.QueueAnswer(FakeServer::AnswerText(
      "<policy ownerDeptId=\"7\" secretLevelId=\"3\"><userAuthorization authorizeDeptId=\"7\" "
      "secretLevelId=\"3\" userId=\"u1\" permission=\"6\" userName=\"U\"/></policy>"
      "<policy ownerDeptId=\"7\" secretLevelId=\"4\"><userAuthorization permission=\"0\"/>"
      "</policy>"));
  ASSERT_EQ(child_->RefreshPolicies(), 1);
  EXPECT_EQ(server_.last_request(),
            FakeServer::RequestText("<service value=\"QueryPolicy\"/><policy ownerDeptId=\"7\"/>"));
  CDOPolicy* policy = child_->GetPolicy(&inner);
  ASSERT_NE(policy, nullptr);
  EXPECT_EQ(policy->GetOwnerDepartment(), child_);
  CDOPolicy* added = child_->GetPolicy(&secret);  // none yet: a new, empty one
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->GetSecretLevelId(), 5);
  EXPECT_EQ(child_->GetPolicy(&secret), added);

  ASSERT_EQ(child_->ApplyPolicy(), 1);
  EXPECT_EQ(server_.last_request(),
            FakeServer::RequestText(
                "<service value=\"SetPolicy\"/><department id=\"7\">"
                "<policy ownerDeptId=\"7\" secretLevelId=\"3\"><userAuthorization "
                "authorizeDeptId=\"7\" secretLevelId=\"3\" userId=\"u1\" permission=\"6\"/>"
                "</policy></department>"));

  server_.SetDefaultAnswer("<document><return code=\"7\"/></document>");
  EXPECT_EQ(child_->ApplyPolicy(), 0);
  EXPECT_EQ(child_->RefreshPolicies(), 0);
  EXPECT_EQ(child_->GetPolicy(&inner), nullptr);  // the failed refresh discarded the list
}

TEST_F(DepartmentPolicies, DefaultLevelsAreGrantedOncePerApplicationAndSent) {
  EXPECT_EQ(child_->ApplyApplicationSecretLevel(), 0);  // no list yet: nothing is sent
  EXPECT_EQ(server_.request_count(), 0u);

  server_.QueueAnswer(FakeServer::AnswerText(
      "<defAppSecretLevel departmentId=\"7\" applicationName=\"Word\" secretLevelId=\"3\" "
      "isOnlyDecrypt=\"true\"/>"));
  DataObjectList* levels = child_->GetDefaultAppSecretLevel();
  ASSERT_NE(levels, nullptr);
  EXPECT_EQ(server_.last_request(),
            FakeServer::RequestText("<service value=\"QueryDefAppSecretLevel\"/>"
                                    "<defAppSecretLevel departmentId=\"7\"/>"));

  server_.QueueAnswer(
      FakeServer::AnswerText("<application name=\"Word\"/><application name=\"Excel\"/>"));
  CDOApplication* word = CDOApplication::GetInstanceByName("Word");
  CDOApplication* excel = CDOApplication::GetInstanceByName("Excel");
  ASSERT_NE(excel, nullptr);
  CDOSecretLevel secret(5, "Secret", "");
  EXPECT_EQ(child_->GrantApplication(word, &secret), nullptr);  // Word has its level already
  CDODeptDefAppSecretLevel* granted = child_->GrantApplication(excel, &secret);
  ASSERT_NE(granted, nullptr);
  EXPECT_EQ(child_->GrantApplication(excel, &secret), nullptr);

  ASSERT_EQ(child_->ApplyApplicationSecretLevel(), 1);
  EXPECT_EQ(
      server_.last_request(),
      FakeServer::RequestText("<service value=\"SetDefAppSecretLevel\"/><department id=\"7\">"
                              "<defAppSecretLevel departmentId=\"7\" applicationName=\"Word\" "
                              "secretLevelId=\"3\" isOnlyDecrypt=\"true\"/>"
                              "<defAppSecretLevel departmentId=\"7\" applicationName=\"Excel\" "
                              "secretLevelId=\"5\"/></department>"));

  CDODeptDefAppSecretLevel stranger;
  EXPECT_EQ(child_->RefuseApplication(&stranger), 0);
  EXPECT_EQ(child_->RefuseApplication(granted), 1);
  EXPECT_EQ(levels->GetSize(), 1);
}

}  // namespace
}  // namespace docsec
