#include "docsec/platform/xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "docsec/platform/com_error.h"

namespace docsec {
namespace {

XmlDocument Parse(const std::string& text) {
  XmlDocument doc = XmlDocument::Create();
  doc.LoadXml(text);
  return doc;
}

TEST(Xml, BuildsAndSerialisesWithoutIndentationProcessingInstructionFirst) {
  XmlDocument doc = XmlDocument::Create();
  doc.AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"UTF-8\"");
  XmlElement root = doc.CreateDocumentElement("document");
  root.AppendElement("service").SetAttribute("value", "QueryDepartment");
  XmlElement dept = root.AppendElement("department");
  dept.SetAttribute("id", 5LL);
  dept.SetAttribute("name", "a<b&\"c\"");
  dept.SetAttribute("id", 6LL);  // replaces
  EXPECT_EQ(
      doc.Xml(),
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><document><service value=\"QueryDepartment\"/>"
      "<department id=\"6\" name=\"a&lt;b&amp;&quot;c&quot;\"/></document>");
  EXPECT_THROW(doc.CreateDocumentElement("second"), ComError);
}

TEST(Xml, NullHandlesAreFalseAndRaiseMissingPointer) {
  XmlDocument doc;
  XmlElement element;
  EXPECT_FALSE(doc);
  EXPECT_FALSE(element);
  try {
    element.GetAttribute("x");
    FAIL() << "expected ComError";
  } catch (const ComError& e) {
    EXPECT_EQ(e.Error(), kErrPointer);
  }
  EXPECT_THROW(doc.Xml(), ComError);
  EXPECT_THROW(element.AppendElement("x"), ComError);
}

TEST(Xml, ElementsKeepTheirDocumentAlive) {
  XmlElement child;
  {
    XmlDocument doc = Parse("<a><b x=\"1\"/></a>");
    child = doc.DocumentElement().SelectChild("b");
  }
  EXPECT_STREQ(child.GetAttribute("x"), "1");
  EXPECT_EQ(child.OwnerDocument().DocumentElement().Name(), std::string("a"));
}

TEST(Xml, ChildSelectionByTagIsDirectAndInDocumentOrder) {
  XmlDocument doc =
      Parse("<r><u id=\"1\"/><x/><u id=\"2\"><u id=\"nested\"/></u>text<u id=\"3\"/></r>");
  XmlElement root = doc.DocumentElement();
  XmlNodeList users = root.SelectChildren("u");
  ASSERT_EQ(users.Length(), 3u);
  EXPECT_STREQ(users.Item(2).GetAttribute("id"), "3");
  EXPECT_FALSE(users.Item(3));
  EXPECT_EQ(root.SelectChildren(nullptr).Length(), 4u);
  EXPECT_STREQ(root.SelectChild("u").NextSibling("u").GetAttribute("id"), "2");
  EXPECT_FALSE(root.SelectChild("missing"));
  EXPECT_EQ(root.SelectChild("x").Parent(), root);
  EXPECT_FALSE(root.Parent());
}

TEST(Xml, AdvancingWalksSiblingsOfOneTagAndSkipsOtherNodes) {
  XmlDocument doc = Parse("<r><u id=\"1\"/><?u not an element?>text<c/><u id=\"2\"/></r>");
  XmlElement e = doc.DocumentElement().SelectChild("u");
  std::string ids;
  for (; e; e.AdvanceToNextSibling("u")) ids += e.GetAttribute("id");
  EXPECT_EQ(ids, "12");
  EXPECT_FALSE(e);
  XmlElement any = doc.DocumentElement().SelectChild(nullptr);
  int count = 0;
  for (; any; any.AdvanceToNextSibling(nullptr)) ++count;
  EXPECT_EQ(count, 3);
  EXPECT_THROW(any.AdvanceToNextSibling("u"), ComError);  // a null handle stays an error
}

TEST(Xml, XPathSelection) {
  XmlDocument doc = Parse("<r><a><count>7</count></a><count>8</count></r>");
  XmlNodeList counts = doc.SelectNodes("//count");
  ASSERT_EQ(counts.Length(), 2u);
  EXPECT_EQ(counts.Item(0).Text(), "7");
  EXPECT_EQ(doc.SelectSingleNode("//count").Text(), "7");
  EXPECT_EQ(doc.DocumentElement().SelectNodes("count").Length(), 1u);
  EXPECT_THROW(doc.SelectNodes("///["), ComError);
}

TEST(Xml, TextThatDoesNotParseLeavesNoRoot) {
  for (const char* text : {"", "not xml", "<a>", "<a></b>", "<a x='1' x='2'/>garbage<"}) {
    XmlDocument doc = XmlDocument::Create();
    EXPECT_FALSE(doc.LoadXml(text)) << text;
    EXPECT_FALSE(doc.DocumentElement()) << text;
  }
}

// A NUL would cut the decoded text where C strings are read ("a.txt&#0;.doc" naming "a.txt"), so
// no spelling of it parses; other references still do.
TEST(Xml, NulCharactersDoNotParseInAnySpelling) {
  struct Case {
    std::string text;
    bool parses;
  } cases[] = {
      {"<f name=\"a.txt&#0;.doc\"/>", false},
      {"<f name=\"a&#x0;\"/>", false},
      {"<f name=\"a&#x00000;\"/>", false},
      {"<f>a&#000;</f>", false},
      {"<f name=\"a&#x100000000;\"/>", false},  // wraps to 0 in 32 bits
      {"<f name=\"a&#4294967296;\"/>", false},
      {std::string("<f name=\"a\0b\"/>", 14), false},
      {"<f name=\"a&#48;&#x41;&amp;\"/>", true},
      {"<f name=\"&#;&#x;&#\"/>", true},  // no digits: no character, the text stays
  };
  for (const Case& c : cases) {
    for (bool in_place : {false, true}) {
      XmlDocument doc = XmlDocument::Create();
      bool parsed = in_place ? doc.LoadXml(std::string(c.text)) : doc.LoadXml(c.text);
      EXPECT_EQ(parsed, c.parses) << c.text;
      EXPECT_EQ(static_cast<bool>(doc.DocumentElement()), c.parses) << c.text;
    }
  }
  XmlDocument doc = XmlDocument::Create();
  ASSERT_TRUE(doc.LoadXml("<f name=\"a&#48;&#x41;&amp;\"/>"));
  EXPECT_STREQ(doc.DocumentElement().GetAttribute("name"), "a0A&");
}

TEST(Xml, DeepAndLargeDocumentsAreHandled) {
  const int depth = 100000;
  std::string deep;
  for (int i = 0; i < depth; ++i) deep += "<e>";
  deep += "x";
  for (int i = 0; i < depth; ++i) deep += "</e>";
  XmlDocument doc = Parse(deep);
  ASSERT_TRUE(doc.DocumentElement());
  EXPECT_EQ(doc.DocumentElement().Text(), "x");
  EXPECT_EQ(doc.Xml().size(), deep.size());

  std::string big(10 * 1024 * 1024, 'v');
  XmlDocument large = Parse("<a v=\"" + big + "\"/>");
  EXPECT_EQ(std::string(large.DocumentElement().GetAttribute("v")).size(), big.size());
}

TEST(Xml, AppendChildMovesWithinADocumentAndCopiesAcrossDocuments) {
  XmlDocument a = Parse("<a><x id=\"1\"/><y/></a>");
  XmlDocument b = Parse("<b/>");
  XmlElement x = a.DocumentElement().SelectChild("x");
  b.DocumentElement().AppendChild(x);
  EXPECT_EQ(b.Xml(), "<b><x id=\"1\"/></b>");
  EXPECT_TRUE(a.DocumentElement().SelectChild("x"));  // copied, not taken
  a.DocumentElement().SelectChild("y").AppendChild(x);
  EXPECT_EQ(a.Xml(), "<a><y><x id=\"1\"/></y></a>");
  EXPECT_THROW(x.AppendChild(a.DocumentElement()), ComError);  // into its own sub-tree
}

TEST(Xml, AttributesIterateInDocumentOrder) {
  XmlDocument doc = Parse("<a p=\"1\" q=\"2\"/>");
  XmlAttribute attr = doc.DocumentElement().FirstAttribute();
  ASSERT_TRUE(attr);
  EXPECT_STREQ(attr.Name(), "p");
  attr = attr.Next();
  EXPECT_STREQ(attr.Value(), "2");
  EXPECT_FALSE(attr.Next());
  EXPECT_EQ(XmlAttribute().Name(), nullptr);
}

// The bulk read gives every attribute in order, counts beyond the capacity without writing there,
// and ends at the last attribute for parsed and built elements alike (a built one may carry an
// empty value, which must not end the walk early).
TEST(Xml, AllAttributesAreReadInOneCallWithinTheCapacity) {
  XmlDocument parsed = Parse("<r><none/><three a=\"1\" b=\"\" c=\"3\"/></r>");
  XmlDocument built = XmlDocument::Create();
  XmlElement made = built.CreateDocumentElement("made");
  made.AppendAttribute("x", "");
  made.AppendAttribute("y", "2");
  struct Case {
    XmlElement element;
    size_t capacity;
    std::vector<std::string> expected;  // "name=value", the first `capacity` of them
    size_t count;
  } cases[] = {
      {parsed.DocumentElement().SelectChild("none"), 8, {}, 0},
      {parsed.DocumentElement().SelectChild("three"), 8, {"a=1", "b=", "c=3"}, 3},
      {parsed.DocumentElement().SelectChild("three"), 2, {"a=1", "b="}, 3},
      {parsed.DocumentElement().SelectChild("three"), 0, {}, 3},
      {made, 8, {"x=", "y=2"}, 2},
  };
  for (const Case& c : cases) {
    const char* names[8] = {};
    const char* values[8] = {};
    EXPECT_EQ(c.element.GetAttributes(names, values, c.capacity), c.count) << c.element.Xml();
    std::vector<std::string> got;
    for (size_t i = 0; i < std::min(c.capacity, c.count); ++i) {
      got.push_back(std::string(names[i]) + "=" + values[i]);
    }
    EXPECT_EQ(got, c.expected) << c.element.Xml();
    if (c.capacity < 8) {
      EXPECT_EQ(names[c.capacity], nullptr) << "written beyond the capacity";
    }
  }
}
// The secret's bytes are overwritten where they lay: the text pointer taken before the wipe reads
// zeros, both for a value set by the program and for one parsed from an answer.
TEST(Xml, WipedAttributeIsZeroedInPlaceAndReadsEmpty) {
  XmlDocument built = XmlDocument::Create();
  XmlElement user = built.CreateDocumentElement("user");
  user.SetAttribute("password", "s3cret-and-long-enough-to-live-on-the-heap");
  XmlDocument parsed = Parse("<config key=\"0123456789ABCDEF\" empty=\"\"/>");
  const struct {
    XmlElement element;
    const char* name;
  } cases[] = {{user, "password"}, {parsed.DocumentElement(), "key"}};
  for (const auto& c : cases) {
    const char* where = c.element.GetAttribute(c.name);
    const size_t length = std::strlen(where);
    c.element.WipeAttribute(c.name);
    EXPECT_EQ(std::string(where, length), std::string(length, '\0')) << c.name;
    EXPECT_STREQ(c.element.GetAttribute(c.name), "") << c.name;
  }
  parsed.DocumentElement().WipeAttribute("empty");
  parsed.DocumentElement().WipeAttribute("absent");
  EXPECT_FALSE(parsed.DocumentElement().HasAttribute("absent"));
  EXPECT_EQ(user.Xml(), "<user password=\"\"/>");
}

}  // namespace
}  // namespace docsec
