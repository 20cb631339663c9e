// Certificates for tests of HTTPS, made with the openssl program into a folder of the test's: an
// authority (ca.pem, ca.key), a server certificate for 127.0.0.1 signed by it (server.pem,
// server.key), a certificate signed by it for another name (elsewhere.pem, elsewhere.key), and an
// unrelated authority (other.pem, other.key).
//
// Thread safety: none needed; each call writes its own folder.
#ifndef DOCSEC_TESTING_TEST_CERTIFICATES_H_
#define DOCSEC_TESTING_TEST_CERTIFICATES_H_

#include <string>

namespace docsec {
namespace testing {

// Makes the files above in `dir` (which exists). False, with openssl's output on stderr, when
// the program is missing or fails.
bool MakeTestCertificates(const std::string& dir);

}  // namespace testing
}  // namespace docsec

#endif  // DOCSEC_TESTING_TEST_CERTIFICATES_H_
