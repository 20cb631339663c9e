#include "docsec/testing/test_certificates.h"

#include <cstdlib>

namespace docsec {
namespace testing {

bool MakeTestCertificates(const std::string& dir) {
  std::string script =
      "set -e; cd '" + dir +
      "';"
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=docsec-test-ca"
      " -keyout ca.key -out ca.pem;"
      "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other-ca"
      " -keyout other.key -out other.pem 2>/dev/null;"
      "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key"
      " -out server.csr 2>/dev/null;"
      "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext;"
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
      " -extfile san.ext -out server.pem 2>/dev/null;"
      "openssl req -newkey rsa:2048 -nodes -subj /CN=elsewhere.test -keyout elsewhere.key"
      " -out elsewhere.csr 2>/dev/null;"
      "printf 'subjectAltName=DNS:elsewhere.test\\n' > elsewhere.ext;"
      "openssl x509 -req -in elsewhere.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2"
      " -extfile elsewhere.ext -out elsewhere.pem 2>/dev/null";
  int rc = std::system(("bash -c \"" + script + "\" > '" + dir + "/openssl.log' 2>&1").c_str());
  if (rc != 0) std::system(("cat '" + dir + "/openssl.log' >&2").c_str());
  return rc == 0;
}

}  // namespace testing
}  // namespace docsec
