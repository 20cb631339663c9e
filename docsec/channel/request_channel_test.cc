#include "docsec/channel/request_channel.h"

#include <gtest/gtest.h>

#include <string>

#include "docsec/channel/last_error.h"
#include "docsec/testing/fake_server.h"

namespace docsec {
namespace {

using testing::FakeServer;

XmlDocument Answer(const std::string& text) {
  XmlDocument doc = XmlDocument::Create();
  doc.LoadXml(text);
  return doc;
}

TEST(RequestChannel, RequestDocumentNamesTheOperationFirst) {
  XmlDocument request = BuildRequestDocument("QueryUser");
  ASSERT_TRUE(request);
  EXPECT_EQ(request.Xml(), std::string(FakeServer::kProlog) +
                               "<document><service value=\"QueryUser\"/></document>");
  XmlElement root = request.DocumentElement();
  EXPECT_EQ(root.SelectChildren("service").Length(), 1u);
  EXPECT_EQ(root.SelectChild(nullptr), root.SelectChild("service"));
}

TEST(RequestChannel, DataSourceSelectsTheEntryPoint) {
  FakeServer server;
  for (int source : {1, 2, 0, -5, 7}) {
    XmlDocument answer = SendRequestDocument(BuildRequestDocument("X"), source);
    EXPECT_TRUE(answer);
    EXPECT_EQ(server.last_entry_point(), source == 1 ? 1 : 2) << source;
  }
}

TEST(RequestChannel, NoHandlerOrEmptyAnswerGivesNoAnswer) {
  EXPECT_FALSE(SendRequestDocument(BuildRequestDocument("X"), 1));
  FakeServer server;
  server.QueueAnswer("");
  EXPECT_FALSE(SendRequestDocument(BuildRequestDocument("X"), 1));
  EXPECT_FALSE(SendRequestDocument(XmlDocument(), 1));
}

TEST(RequestChannel, RequestGoesAsTextAndTheAnswerComesBackParsed) {
  FakeServer server;
  server.QueueAnswer("<document><return code=\"0\"/><x a=\"1\"/></document>");
  XmlDocument answer = SendRequestDocument(BuildRequestDocument("X"), 1);
  EXPECT_EQ(server.last_request(),
            std::string(FakeServer::kProlog) + "<document><service value=\"X\"/></document>");
  ASSERT_TRUE(answer);
  EXPECT_STREQ(answer.DocumentElement().SelectChild("x").GetAttribute("a"), "1");

  server.QueueAnswer("<document><return code=");
  XmlDocument broken = SendRequestDocument(BuildRequestDocument("X"), 1);
  ASSERT_TRUE(broken);
  EXPECT_FALSE(broken.DocumentElement());
}

TEST(RequestChannel, SuccessStoresZeroInTheLastErrorWord) {
  SetLastDrmError(55);
  EXPECT_EQ(CheckAnswerDocument(Answer("<document><return code=\"0\"/></document>")), 1);
  EXPECT_EQ(GetLastDrmError(), 0u);
}

TEST(RequestChannel, ServerCodeFailsAndIsReadOnce) {
  GetLastDrmError();
  EXPECT_EQ(CheckAnswerDocument(Answer("<answer><x/><return code=\"17\"/></answer>")), 0);
  EXPECT_EQ(GetLastDrmError(), 17u);
  EXPECT_EQ(GetLastDrmError(), 0u);
}

TEST(RequestChannel, UnusableAnswersFailAndLeaveTheLastErrorWord) {
  const char* answers[] = {
      "<document><return/></document>",
      "<document><return code=\"abc\"/></document>",
      "<document><return code=\"\"/></document>",
      "<document><return code=\"-1\"/></document>",
      "<document><return code=\"99999999999\"/></document>",
      "<document><return code=\"9999\"/></document>",
      "<document/>",
      "<document return=\"0\"/>",
      "<document><?return code=\"0\"?></document>",
      "<document><x><return code=\"0\"/></x></document>",
      "not xml at all",
      "<document><return code=\"0\">",
  };
  for (const char* text : answers) {
    SetLastDrmError(42);
    EXPECT_EQ(CheckAnswerDocument(Answer(text)), 0) << text;
    EXPECT_EQ(GetLastDrmError(), 42u) << text;
  }
  EXPECT_EQ(CheckAnswerDocument(XmlDocument()), 0);
}

TEST(RequestChannel, FirstReturnElementDecides) {
  EXPECT_EQ(CheckAnswerDocument(Answer("<d><return code=\"0\"/><return code=\"5\"/></d>")), 1);
  EXPECT_EQ(CheckAnswerDocument(Answer("<d><return code=\" 3 \"/></d>")), 0);
  EXPECT_EQ(GetLastDrmError(), 3u);
}

TEST(RequestChannel, AnswerNestedVeryDeepIsHandled) {
  std::string deep = "<document><return code=\"0\"/>";
  for (int i = 0; i < 100000; ++i) deep += "<e>";
  for (int i = 0; i < 100000; ++i) deep += "</e>";
  deep += "</document>";
  FakeServer server;
  server.QueueAnswer(deep);
  XmlDocument answer = SendRequestDocument(BuildRequestDocument("X"), 1);
  EXPECT_EQ(CheckAnswerDocument(answer), 1);
}

}  // namespace
}  // namespace docsec
