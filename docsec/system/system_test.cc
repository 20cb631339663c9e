// The system classes: identity and declarations of the operation catalogue, the maintenance
// commands and the catalogue read.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "docsec/channel/last_error.h"
#include "docsec/system/name_of_oper.h"
#include "docsec/system/operation.h"
#include "docsec/system/system_operation.h"
#include "docsec/testing/class_checks.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;
using testing::FakeServer;

TEST(SystemClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDOperation>, kObjectTypeNone, "Operations", "operation"},
      {&ExpectWellFormedClass<CNameOfOper>, kObjectTypeNone, "CDataObject", "name"},
  });
}

// ---- maintenance commands ----

TEST(SystemOperation, CommandsSendTheirRequestAndReportTheServersVerdict) {
  const struct {
    int (*run)(CSystemOperation&);
    const char* request_body;
  } cases[] = {
      {[](CSystemOperation& o) { return o.SOManualRefreshAD(); },
       "<service value=\"ManualSynchronizeLDAP\"/>"},
      {[](CSystemOperation& o) { return o.SOAgentFilesAutoUpdate(); },
       "<service value=\"AutoUpdate\"/>"},
      {[](CSystemOperation& o) { return o.SOSetAgentUninstallPassword("p&ss \"w\""); },
       "<service value=\"SetUninstallPwd\"/><parameter pwd=\"p&amp;ss &quot;w&quot;\"/>"},
      {[](CSystemOperation& o) { return o.SOSetAgentUninstallPassword(""); },
       "<service value=\"SetUninstallPwd\"/><parameter pwd=\"\"/>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request_body);
    FakeServer server;
    CSystemOperation operation;
    EXPECT_EQ(c.run(operation), 1);
    EXPECT_EQ(server.last_request(), FakeServer::RequestText(c.request_body));
    EXPECT_EQ(server.last_entry_point(), 1);

    GetLastDrmError();
    server.QueueAnswer("<document><return code=\"17\"/></document>");
    EXPECT_EQ(c.run(operation), 0);
    EXPECT_EQ(GetLastDrmError(), 17u);
    server.QueueAnswer("");  // no answer at all
    EXPECT_EQ(c.run(operation), 0);
  }
}

TEST(SystemOperation, NullUninstallPasswordSendsNothing) {
  FakeServer server;
  CSystemOperation operation;
  EXPECT_EQ(operation.SOSetAgentUninstallPassword(nullptr), 0);
  EXPECT_EQ(server.request_count(), 0u);
}

TEST(SystemOperation, CopiesKeepTheDataSource) {
  FakeServer server;
  CSystemOperation original;
  original.SetDataSource(2);
  CSystemOperation copied(original);
  CSystemOperation assigned;
  assigned = original;
  for (CSystemOperation* operation : {&copied, &assigned}) {
    EXPECT_EQ(operation->SOAgentFilesAutoUpdate(), 1);
    EXPECT_EQ(server.last_entry_point(), 2);
  }
}

// ---- the operation catalogue ----

std::string Text(CDataObject* object, int (CDOperation::*get)(char*, unsigned long)) {
  char buffer[64] = "";
  (static_cast<CDOperation*>(object)->*get)(buffer, sizeof buffer);
  return buffer;
}

TEST(Operation, CatalogueReadsEveryOperationWithItsNames) {
  FakeServer server;
  server.QueueAnswer(
      "<document><return code=\"0\"/>"
      "<operation id=\"1\" value=\"Encrypt\"><name id=\"en\" value=\"Encrypt\"/>"
      "<name id=\"fr\" value=\"Chiffrer\"/></operation>"
      "<other id=\"9\"/>"
      "<operation id=\"2\" value=\"Decrypt\"/></document>");
  std::unique_ptr<DataObjectList> list(CDOperation::GetClassInstance()->GetAllInstance());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(server.last_request(), FakeServer::RequestText("<service value=\"QueryOperations\"/>"));
  ASSERT_EQ(list->GetSize(), 2);
  auto* first = static_cast<CDOperation*>(list->GetAt(0));
  auto* second = static_cast<CDOperation*>(list->GetAt(1));
  EXPECT_EQ(Text(first, &CDOperation::GetOperationId), "1");
  EXPECT_EQ(Text(second, &CDOperation::GetOperationValue), "Decrypt");
  ASSERT_NE(first->GetNameList(), nullptr);
  ASSERT_EQ(first->GetNameList()->GetSize(), 2);
  char value[16] = "";
  static_cast<CNameOfOper*>(first->GetNameList()->GetAt(1))->GetOperationNameVALUE(value, 16);
  EXPECT_STREQ(value, "Chiffrer");
  // An operation without names still has its (empty) list.
  ASSERT_NE(second->GetNameList(), nullptr);
  EXPECT_EQ(second->GetNameList()->GetSize(), 0);
  DestructElements(list.get());
}

TEST(Operation, EmptyCatalogueIsAnEmptyListAndARefusalIsNull) {
  FakeServer server;
  server.QueueAnswer(FakeServer::kOk);
  std::unique_ptr<DataObjectList> list(CDOperation::GetClassInstance()->GetAllInstance());
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->GetSize(), 0);
  server.QueueAnswer("<document><return code=\"3\"/></document>");
  EXPECT_EQ(CDOperation::GetClassInstance()->GetAllInstance(), nullptr);
}

TEST(Operation, LoadingNamesReplacesTheList) {
  XmlDocument doc = XmlDocument::Create();
  doc.LoadXml("<r><operation><name id=\"a\"/><name id=\"b\"/></operation><operation/></r>");
  XmlElement with_names = doc.DocumentElement().SelectChild("operation");
  CDOperation operation;
  EXPECT_EQ(operation.GetNameList(), nullptr);
  ASSERT_EQ(operation.LoadSubXmlNode(with_names), 1);
  EXPECT_EQ(operation.GetNameList()->GetSize(), 2);
  ASSERT_EQ(operation.LoadSubXmlNode(with_names.NextSibling("operation")), 1);
  EXPECT_EQ(operation.GetNameList()->GetSize(), 0);
  EXPECT_EQ(operation.LoadSubXmlNode(XmlElement()), 0);
}

}  // namespace
}  // namespace docsec
