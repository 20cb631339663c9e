// Certificate and offline login.
#include <cstring>

#include "docsec/agent/agent_packet.h"
#include "docsec/channel/outcome.h"
#include "docsec/platform/com_error.h"
#include "docsec/platform/crypto.h"
#include "docsec/platform/secure_memory.h"
#include "docsec/users/user.h"

namespace docsec {
namespace {

// The offline login's random value and the enterprise key: one AES-128 block each, written on the
// wire and in "enterpriseKey" as 32 hexadecimal digits.
constexpr int kKeyBytes = static_cast<int>(kAes128KeySize);
constexpr int kKeyDigits = 2 * kKeyBytes;
// Texts read back from the attribute store pass through buffers of this size.
constexpr unsigned long kTextBufferSize = 260;

// The value of a hexadecimal digit, or -1 for any other character.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void CDOUser::BytesToHexString(char* out, const unsigned char* bytes, int n) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = 0; i < n; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
  }
  out[2 * (n > 0 ? n : 0)] = '\0';
}

// Each byte is its pair of characters read as a base-16 number that stops at the first character
// that is not a digit: a pair with a bad second character gives the first digit's value, one that
// starts with a bad character gives 0. The text ends at its NUL; what lies beyond counts as
// absent, so a short text gives zero bytes and nothing past its end is read.
void CDOUser::HexStringToBytes(const char* text, unsigned char* out, int n) {
  if (n <= 0) return;
  std::memset(out, 0, static_cast<size_t>(n));
  if (text == nullptr) return;
  for (int i = 0; i < n; ++i) {
    const int high = HexDigit(text[0]);
    if (high < 0) {
      if (text[0] == '\0') return;
      text += text[1] == '\0' ? 1 : 2;
      continue;
    }
    const int low = HexDigit(text[1]);
    out[i] = static_cast<unsigned char>(low < 0 ? high : high * 16 + low);
    if (text[1] == '\0') return;
    text += 2;
  }
}

int CDOUser::PKIOfflineLogin(const char* account, const char* password) {
  constexpr char kOperation[] = "AgentOfflineLogin";
  // Every failure is reported as 0, so recording its cause must not raise another.
  const auto failed = [&kOperation](const char* reason) noexcept {
    return SetLibraryFailureNoThrow(kOperation, reason);
  };
  try {
    // The random value keys the enterprise key's transport; it must be unpredictable, so it comes
    // from the cryptographic generator (a UUID's bytes carry fixed version bits).
    SecretBytes<kKeyBytes> random;
    if (!RandomBytes(random.data(), random.size())) {
      return failed("no random value for the key's transport");
    }
    SecretBytes<kKeyDigits + 1> random_digits;
    BytesToHexString(random_digits.chars(), random.data(), kKeyBytes);

    // The request's secrets are wiped once it went out, however the exchange ended.
    XmlElement user;
    XmlElement nonce;
    struct WipeRequest {
      XmlElement& user;
      XmlElement& nonce;
      ~WipeRequest() {
        if (user) user.WipeAttribute(kPassword.name);
        if (nonce) nonce.WipeAttribute("data");
      }
    } wipe{user, nonce};
    XmlDocument answer = Exchange(kOperation, [&](XmlElement& root) {
      user = root.AppendElement(GetObjectXMLTagName().c_str());
      user.SetAttribute(kId.name, account);
      user.SetAttribute(kPassword.name, password);
      nonce = root.AppendElement("random");
      nonce.SetAttribute("data", random_digits.chars());
      return true;
    });
    if (!answer) return 0;

    XmlElement config = answer.DocumentElement().SelectChild("config");
    if (!config) return failed("the answer holds no config");
    if (const char* department = config.GetAttribute(kDepartmentId.name)) {
      // A department id that is not a number names no department: the user keeps its own rather
      // than losing it.
      try {
        SetValue(kDepartmentId, Variant::FromText(department, kVtInt));
      } catch (const ComError& error) {
        if (error.Error() == kErrOutOfMemory) throw;
      }
    }
    const char* sealed = config.GetAttribute(kEnterpriseKey.name);
    if (sealed == nullptr) return failed("the answer's config holds no enterprise key");
    SecretBytes<kKeyBytes> key;
    HexStringToBytes(sealed, key.data(), kKeyBytes);
    if (!DecryptBuffer(key.data(), key.size(), random.data())) {
      return failed("the enterprise key cannot be unsealed");
    }
    SecretBytes<kKeyDigits + 1> key_digits;
    BytesToHexString(key_digits.chars(), key.data(), kKeyBytes);
    if (!SetText(kEnterpriseKey, key_digits.chars())) return failed("the key cannot be kept");
    return 1;
  } catch (const std::exception& error) {
    // A malformed answer or a failing document call ends the login, never the caller.
    return failed(error.what());
  } catch (...) {
    return failed("an unknown exception");
  }
}

int CDOUser::GetPKIOfflineData(unsigned char* out16) {
  if (out16 == nullptr) return 0;
  SecretBytes<kTextBufferSize> text;
  if (GetText(kEnterpriseKey, text.chars(), text.size()) <= 0) return 0;
  HexStringToBytes(text.chars(), out16, kKeyBytes);
  return 1;
}

CDOUser* CDOUser::ZelkPKILoginEx(const char* signedData, const char* encodingCert,
                                 const char* signResult) {
  // The signed proof stands in for account and password, and the certificate behind it is
  // validated on the directory server, so that check is always asked for.
  return LoginWith(
      [=](const XmlElement& user) {
        user.SetAttribute("signedData", signedData);
        user.SetAttribute("encodingCert", encodingCert);
        user.SetAttribute("signResult", signResult);
        user.SetAttribute("mustValidateOnLDAPServer", "true");
      },
      true);
}

}  // namespace docsec
