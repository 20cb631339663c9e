// Helpers shared by the reference agent's tests: a scratch directory tree under a fresh mkdtemp
// folder (removed afterwards), file reading and writing, and reply inspection.
#ifndef DOCSEC_TOOLS_AGENT_AGENT_TEST_UTIL_H_
#define DOCSEC_TOOLS_AGENT_AGENT_TEST_UTIL_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "docsec/platform/xml.h"

namespace docsec::agent {
class ReferenceAgent;
}  // namespace docsec::agent

namespace docsec::agent::testing {

class ScratchTree {
 public:
  ScratchTree();
  ~ScratchTree();
  ScratchTree(const ScratchTree&) = delete;
  ScratchTree& operator=(const ScratchTree&) = delete;

  const std::string& path() const { return path_; }
  std::string At(const std::string& relative) const { return path_ + "/" + relative; }
  // Each returns false (and the test fails) when the system refuses.
  bool Dir(const std::string& relative) const;
  bool Write(const std::string& relative, const std::string& content) const;
  bool Link(const std::string& relative, const std::string& target) const;
  bool HardLink(const std::string& relative, const std::string& existing) const;
  bool SetModifyTime(const std::string& relative, int64_t seconds) const;
  bool SetMode(const std::string& relative, unsigned mode) const;
  std::string Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  // Names in a folder of the tree, sorted.
  std::vector<std::string> List(const std::string& relative) const;

 private:
  std::string path_;
};

// Starts a reference agent on a free loopback address, serving `tree`'s folder "c" as drive C:
// with identity `uuid` and its state in "state". The address, or 0 with the reason in *error.
uint32_t StartTreeAgent(const ScratchTree& tree, const std::string& uuid,
                        std::unique_ptr<ReferenceAgent>* agent, std::string* error);

// The "value" of the root's child `tag`, or "<missing>".
std::string ChildValue(const XmlDocument& reply, const char* tag);
// The "retcode" value as a number; -1000 when missing.
int Retcode(const XmlDocument& reply);
// The names of the elements `tag` inside the reply's "dir", in order.
std::vector<std::string> ListedNames(const XmlDocument& reply, const char* tag);
// The element `tag` named `name` inside the reply's "dir", or a null element.
XmlElement ListedElement(const XmlDocument& reply, const char* tag, const std::string& name);
// The attribute's text, or "<no element>" / "<absent>", so failures print what was missing.
std::string Attr(const XmlElement& element, const char* name);
// How many of this process's descriptors refer to files that no longer have a name.
int OpenDeletedFiles();
// A request document parsed from text (the test fails when it does not parse).
XmlDocument ParseRequest(const std::string& text);

}  // namespace docsec::agent::testing

#endif  // DOCSEC_TOOLS_AGENT_AGENT_TEST_UTIL_H_
