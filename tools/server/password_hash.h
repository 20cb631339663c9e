// Password hashes: PBKDF2-HMAC-SHA256 with a random 16-byte salt per hash, kept as the text
// "pbkdf2-sha256$ITERATIONS$SALT$HASH" (salt and hash in lowercase hexadecimal), so the iteration
// count can be raised later without invalidating stored hashes. Clear passwords are never stored
// and never logged.
//
// Thread safety: the functions are thread-safe.
#ifndef DOCSEC_TOOLS_SERVER_PASSWORD_HASH_H_
#define DOCSEC_TOOLS_SERVER_PASSWORD_HASH_H_

#include <string>
#include <string_view>

namespace docsec::server {

// The iteration count for new hashes when the server is not told otherwise.
constexpr int kDefaultPasswordIterations = 200000;

// A new salted hash of `password`; empty only when the random generator or the hash fails.
std::string HashPassword(std::string_view password, int iterations);
// True when `password` matches `stored`. A malformed or empty `stored` matches nothing. The
// comparison takes the same time wherever the hashes differ.
bool VerifyPassword(std::string_view password, std::string_view stored);
// True when `stored` was made with fewer than `iterations` rounds (or is malformed), so a login
// that just proved the password should store a fresh hash.
bool PasswordNeedsRehash(std::string_view stored, int iterations);
// Spends the time of one verification at `iterations` rounds, so that an unknown account takes
// as long to refuse as a wrong password.
void BurnPasswordTime(std::string_view password, int iterations);

}  // namespace docsec::server

#endif  // DOCSEC_TOOLS_SERVER_PASSWORD_HASH_H_
