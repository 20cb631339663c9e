#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "docsec/platform/xml.h"
#include "docsec/testing/fake_server.h"
#include "docsec/users/position.h"
#include "docsec/users/user.h"
#include "docsec/users/user_appointment.h"

namespace docsec {
namespace {

using testing::FakeServer;

std::string Request(const std::string& body) { return FakeServer::RequestText(body); }
std::string Answer(const std::string& body) { return FakeServer::AnswerText(body); }

std::string IdOf(CDataObject* object) {
  char buffer[32] = "";
  static_cast<CDOUser*>(object)->GetId(buffer, sizeof buffer);
  return buffer;
}

class Appointments : public ::testing::Test {
 protected:
  void SetUp() override {
    user_.SetId("ann");
    user_.SetName("Ann");
    position_.SetDepartmentId(4);
    position_.SetPositionName("Head");
    XmlDocument doc = XmlDocument::Create();
    ASSERT_TRUE(doc.LoadXml(std::string("<position id=\"9\" departmentId=\"4\"/>")));
    position_.LoadFromXmlNode(doc.DocumentElement());
  }
  FakeServer server_;
  CDOUser user_;
  CDOPosition position_;
};

TEST_F(Appointments, AppointingAnEqualMemberTwiceGivesNull) {
  CDOUser* copy = position_.AppointUser(&user_);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, &user_);
  CDOUser same;
  same.SetId("ann");
  EXPECT_EQ(position_.AppointUser(&same), nullptr);
  CDOPosition* held = user_.AppointPosition(&position_);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(user_.AppointPosition(&position_), nullptr);
  EXPECT_EQ(server_.request_count(), 0u);  // local until applied
}

TEST_F(Appointments, RevokeMatchesUsersByEqualityAndPositionsByIdentity) {
  position_.AppointUser(&user_);
  CDOUser same;
  same.SetId("ann");
  EXPECT_EQ(position_.RevokeUser(&same), 1);
  EXPECT_EQ(position_.RevokeUser(&same), 0);

  CDOPosition* held = user_.AppointPosition(&position_);
  EXPECT_EQ(user_.RevokePosition(&position_), 0);  // equal, but not the member
  EXPECT_EQ(user_.RevokePosition(held), 1);
  CDOUser fresh;
  EXPECT_EQ(fresh.RevokePosition(&position_), 0);
  EXPECT_EQ(CDOPosition().RevokeUser(&user_), 0);
}

TEST_F(Appointments, ApplySendsTheMembersUnderTheKeyElement) {
  CDOPosition second;
  second.SetDepartmentId(4);
  second.SetPositionName("Clerk");
  user_.AppointPosition(&position_);
  user_.AppointPosition(&second);
  EXPECT_EQ(user_.ApplyAppointments(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetUserAccession\"/><user id=\"ann\">"
                    "<position id=\"9\" departmentId=\"4\" positionName=\"Head\"/>"
                    "<position departmentId=\"4\" positionName=\"Clerk\"/></user>"));
  position_.AppointUser(&user_);
  EXPECT_EQ(position_.ApplyAppointments(), 1);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetPositionAppointment\"/>"
                    "<position id=\"9\" departmentId=\"4\" positionName=\"Head\">"
                    "<user id=\"ann\" name=\"Ann\"/></position>"));
  CDOUser alone;
  alone.SetId("bob");
  server_.QueueAnswer("<document><return code=\"6\"/></document>");
  EXPECT_EQ(alone.ApplyAppointments(), 0);
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"SetUserAccession\"/><user id=\"bob\"/>"));
}

TEST_F(Appointments, ReadingReplacesLocalChangesWithTheServersList) {
  CDOUser local;
  local.SetId("local");
  position_.AppointUser(&local);
  server_.QueueAnswer(Answer("<position id=\"9\"><user id=\"ann\"/><user id=\"bob\"/></position>"));
  DataObjectList* users = position_.GetAppointments();
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryPositionAppointment\"/>"
                    "<position id=\"9\" departmentId=\"4\" positionName=\"Head\"/>"));
  ASSERT_NE(users, nullptr);
  ASSERT_EQ(users->GetSize(), 2);
  EXPECT_EQ(IdOf(users->GetAt(0)), "ann");
  EXPECT_EQ(IdOf(users->GetAt(1)), "bob");

  user_.AppointPosition(&position_);
  server_.QueueAnswer(Answer("<user id=\"ann\"><position id=\"2\" positionName=\"Boss\"/></user>"));
  DataObjectList* positions = user_.GetAppointments();
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryUserAccession\"/><user id=\"ann\"/>"));
  ASSERT_NE(positions, nullptr);
  ASSERT_EQ(positions->GetSize(), 1);
  EXPECT_EQ(static_cast<CDOPosition*>(positions->GetAt(0))->GetPositionId(), 2);

  server_.QueueAnswer("<document><return code=\"2\"/></document>");
  EXPECT_EQ(user_.GetAppointments(), nullptr);
  EXPECT_EQ(user_.RevokePosition(nullptr), 0);  // the list is gone with the failed read
}

TEST_F(Appointments, SubPositionsAskForTheLevelsBelow) {
  server_.QueueAnswer(
      Answer("<position id=\"9\"><position id=\"10\"/><position id=\"11\"/>"
             "<user id=\"not a position\"/></position>"));
  DataObjectList* below = position_.GetSubPositions();
  EXPECT_EQ(server_.last_request(),
            Request("<service value=\"QueryPosition\"/><position id=\"9\" "
                    "isWithSubPositions=\"true\" departmentId=\"4\" positionName=\"Head\"/>"));
  ASSERT_NE(below, nullptr);
  ASSERT_EQ(below->GetSize(), 2);
  EXPECT_EQ(static_cast<CDOPosition*>(below->GetAt(1))->GetPositionId(), 11);

  server_.QueueAnswer(Answer("<position id=\"9\"/>"));
  below = position_.GetSubPositions();
  ASSERT_NE(below, nullptr);  // none below: an empty list, not a failure
  EXPECT_TRUE(below->empty());
}

TEST_F(Appointments, RecordJoinsBothSidesAndMatchesThem) {
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml(std::string("<user departmentPath=\"A/B\"/>")));
  user_.LoadFromXmlNode(doc.DocumentElement());
  CDOUserAppointment record(&user_, &position_);
  char text[16];
  EXPECT_EQ(record.GetPositionDeptId(), 4);
  record.GetUserDeptPath(text, sizeof text);
  EXPECT_STREQ(text, "A/B");
  record.GetUserNameA(text, sizeof text);
  EXPECT_STREQ(text, "Ann");
  EXPECT_EQ(record.AssemblyXmlNode(doc.DocumentElement()).Xml(),
            "<userAccession positionId=\"9\" departmentId=\"4\" positionName=\"Head\" "
            "userId=\"ann\"/>");

  // Positions are known by department and name (case counts), not by id.
  const struct {
    long department;
    const char* name;
    int match;
  } cases[] = {{4, "Head", 1}, {5, "Head", 0}, {4, "head", 0}, {4, "Head2", 0}};
  for (const auto& c : cases) {
    CDOPosition position;
    position.SetDepartmentId(c.department);
    position.SetPositionName(c.name);
    EXPECT_EQ(record.IsAppointed(&position), c.match) << c.department << c.name;
  }
  EXPECT_EQ(record.IsAppointed(nullptr), 0);
  EXPECT_EQ(record.IsAppointTo(&user_), 1);
  EXPECT_EQ(record.IsAppointTo(nullptr), 0);
}

}  // namespace
}  // namespace docsec
