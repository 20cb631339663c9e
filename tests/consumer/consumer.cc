// A console in miniature: it includes the public headers from an installed tree, builds a
// request, sends it through an in-process transport handler and checks the answer, so it needs
// both installed libraries. Prints what failed and exits non-zero on failure.
#include <docsec/docsec.h>
#include <svctransport/svctransport.h>

#include <cstdio>
#include <string>

int main() {
  // The installed header and the installed library must be of one release.
  if (std::string(docsec::Version()) != DOCSEC_VERSION_STRING) {
    std::fprintf(stderr, "consumer: headers of %s, library %s\n", DOCSEC_VERSION_STRING,
                 docsec::Version());
    return 1;
  }
  std::string received;
  docsec::SvcTransportSetHandler([&received](int, const std::string& request) {
    received = request;
    return std::string("<document><return code=\"0\"/></document>");
  });
  docsec::XmlDocument answer =
      docsec::SendRequestDocument(docsec::BuildRequestDocument("QueryUser"), 1);
  const bool answered = docsec::CheckAnswerDocument(answer) == 1;
  const bool sent = received.find("<service value=\"QueryUser\"/>") != std::string::npos;
  docsec::SvcTransportSetHandler(nullptr);
  if (!answered || !sent) {
    std::fprintf(stderr, "consumer: %s\n", !sent ? "request not sent" : "answer not accepted");
    return 1;
  }
  return 0;
}
