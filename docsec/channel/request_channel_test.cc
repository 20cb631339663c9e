#include "docsec/channel/request_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "docsec/channel/last_error.h"
#include "docsec/channel/outcome.h"
#include "svctransport/svctransport.h"
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

// Every exchange leaves its outcome on the calling thread: the server's code with its message
// verbatim, the library's reason for an answer it cannot use, the transport's cause for none.
TEST(RequestChannel, EveryExchangeLeavesItsOutcome) {
  struct Case {
    const char* answer;  // nullptr: no answer at all
    OutcomeSource source;
    long code;
    const char* words;
  };
  const Case cases[] = {
      {"<document><return code=\"0\"/></document>", OutcomeSource::kNone, 0, ""},
      {"<document><return code=\"105\" message=\"begin 10.0.0.9 is after end 10.0.0.1\"/>"
       "</document>",
       OutcomeSource::kServer, 105, "begin 10.0.0.9 is after end 10.0.0.1"},
      {"<document><return code=\"206\"/></document>", OutcomeSource::kServer, 206, ""},
      {"<document/>", OutcomeSource::kLibrary, 0, "no result"},
      {"<document><return code=\"x\"/></document>", OutcomeSource::kLibrary, 0, "not a number"},
      {"<document><return code=", OutcomeSource::kLibrary, 0, "not XML"},
      {nullptr, OutcomeSource::kTransport, static_cast<long>(SvcTransportFailureKind::kEmptyAnswer),
       "no answer"},
  };
  FakeServer server;
  for (const Case& c : cases) {
    server.QueueAnswer(c.answer != nullptr ? c.answer : "");
    CheckAnswerDocument(SendRequestDocument(BuildRequestDocument("AddIpSegment"), 2));
    Outcome outcome = LastOutcome();
    const char* label = c.answer != nullptr ? c.answer : "(none)";
    EXPECT_EQ(outcome.source, c.source) << label;
    EXPECT_EQ(outcome.code, c.code) << label;
    EXPECT_EQ(outcome.operation, "AddIpSegment") << label;
    EXPECT_NE(outcome.message.find(c.words), std::string::npos) << outcome.message;
    EXPECT_EQ(LastOutcome().source, c.source) << "a second read gives the same";
  }
}

// The exchange function: a refusal reaches the outcome with the server's own words, and the
// caller gets no answer to act on.
TEST(ExchangeRequest, RefusalsReachTheOutcomeVerbatim) {
  struct Case {
    long code;
    const char* message;
  };
  const Case cases[] = {
      {104, "attribute \"name\" is missing or empty"},
      {105, "begin 10.0.0.9 is after end 10.0.0.1"},
      {206, "department 7 is outside the departments you administer"},
      {301, "no such user: ann & bob <x>"},
  };
  FakeServer server;
  for (const Case& c : cases) {
    XmlDocument answer_text = XmlDocument::Create();
    XmlElement ret = answer_text.CreateDocumentElement("document").AppendElement("return");
    ret.AppendAttribute("code", static_cast<long long>(c.code));
    ret.AppendAttribute("message", c.message);
    server.QueueAnswer(answer_text.Xml());
    SetLastDrmError(0);
    XmlDocument answer = ExchangeRequest("AddUser", kDefaultDataSource, [](XmlElement& root) {
      root.AppendElement("user").AppendAttribute("id", "ann");
      return true;
    });
    EXPECT_FALSE(answer) << c.code;
    EXPECT_EQ(server.last_request(), FakeServer::RequestText("<service value=\"AddUser\"/>"
                                                             "<user id=\"ann\"/>"));
    Outcome outcome = LastOutcome();
    EXPECT_EQ(outcome.source, OutcomeSource::kServer) << c.code;
    EXPECT_EQ(outcome.code, c.code);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(outcome.operation, "AddUser");
    EXPECT_EQ(GetLastDrmError(), static_cast<unsigned long>(c.code));
  }
}

TEST(ExchangeRequest, AnswerSourceAndAbandonedRequests) {
  FakeServer server;
  server.QueueAnswer(FakeServer::AnswerText("<x/>"));
  XmlDocument accepted = ExchangeRequest("QueryScanLog", kLogDataSource, nullptr);
  ASSERT_TRUE(accepted);
  EXPECT_TRUE(accepted.DocumentElement().SelectChild("x"));
  EXPECT_EQ(server.last_entry_point(), 2);
  EXPECT_TRUE(LastOutcome().ok());

  // A filler that gives up sends nothing and says which operation could not be made.
  const size_t sent = server.request_count();
  EXPECT_FALSE(
      ExchangeRequest("UpdateUser", kDefaultDataSource, [](XmlElement&) { return false; }));
  EXPECT_EQ(server.request_count(), sent);
  EXPECT_EQ(LastOutcome().source, OutcomeSource::kLibrary);
  EXPECT_EQ(LastOutcome().operation, "UpdateUser");

  // Kept refusals come back whole for callers that read them anyway; the outcome still tells.
  server.QueueAnswer("<document><return code=\"503\" message=\"busy\"/><c/></document>");
  XmlDocument kept = ExchangeRequest("GetComputerVersionStatusEx", kDefaultDataSource, nullptr,
                                     RefusedAnswer::kKeep);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept.DocumentElement().SelectChild("c"));
  EXPECT_EQ(LastOutcome().code, 503);
}

TEST(RequestChannel, ThreadsKeepTheirOwnOutcome) {
  FakeServer server;
  server.SetResponder([](int, const std::string& request) {
    return request.find("Refused") != std::string::npos
               ? std::string(
                     "<document><return code=\"301\" message=\"no such object\"/></document>")
               : std::string("<document><return code=\"0\"/></document>");
  });
  int mixed = 0;
  std::thread refused([&] {
    for (int i = 0; i < 500; ++i) {
      CheckAnswerDocument(SendRequestDocument(BuildRequestDocument("Refused"), 1));
      Outcome outcome = LastOutcome();
      if (outcome.code != 301 || outcome.operation != "Refused") ++mixed;
    }
  });
  for (int i = 0; i < 500; ++i) {
    CheckAnswerDocument(SendRequestDocument(BuildRequestDocument("Accepted"), 1));
    if (!LastOutcome().ok()) ++mixed;
  }
  refused.join();
  EXPECT_EQ(mixed, 0);
}

}  // namespace
}  // namespace docsec
