// What the console shows of its exchanges with the server: under -v one line each on stderr
// (operation, transport entry point, milliseconds, outcome); under --trace also the request's and
// the answer's text, with passwords, keys and random values masked. It listens to the transport,
// which hands every exchange to an observer whatever delivered it, so the network, an embedded
// server and a replay all show the same way.
//
// Thread safety: the library may send from several threads; lines are written whole, one
// exchange at a time.
#ifndef DOCSEC_TOOLS_CLI_EXCHANGE_LOG_H_
#define DOCSEC_TOOLS_CLI_EXCHANGE_LOG_H_

#include <mutex>
#include <ostream>
#include <string>
#include <string_view>

#include "svctransport/svctransport.h"

namespace docsec::cli {

// `text` (request or answer XML) with the value of every secret attribute replaced by "***":
// attributes whose names end in "password", "pwd" or "key", signed data and certificates, and
// every attribute of a <random> element. Everything else is kept byte for byte.
std::string MaskSecrets(std::string_view text);

// "exchange Login (entry point 1): 4 ms, code 0", or for a send without an answer
// "... : no answer, connection refused (...)".
std::string DescribeExchange(const SvcTransportExchange& exchange);

// Shows every exchange on `err` from construction to destruction, then puts back the transport's
// previous observer.
class ExchangeLog {
 public:
  ExchangeLog(std::ostream& err, bool trace);
  ~ExchangeLog();
  ExchangeLog(const ExchangeLog&) = delete;
  ExchangeLog& operator=(const ExchangeLog&) = delete;

 private:
  void Show(const SvcTransportExchange& exchange);

  std::mutex mutex_;
  std::ostream& err_;
  const bool trace_;
  SvcTransportObserver previous_;
};

}  // namespace docsec::cli

#endif  // DOCSEC_TOOLS_CLI_EXCHANGE_LOG_H_
