// The server request channel: one request document out, one answer document back. The transport
// carries text; the channel renders the request and parses the answer.
//
// A request reads <?xml version="1.0" encoding="UTF-8"?><document><service value="NAME"/>...
// </document>, the operation's elements following "service". An answer is accepted whatever its
// root's name; its first child element "return" carries the result in attribute "code": 0 is
// success, any other number the server's error code, which lands in the last-error word.
//
// Thread safety: each request has its own documents; calls may run on several threads.
#ifndef DOCSEC_CHANNEL_REQUEST_CHANNEL_H_
#define DOCSEC_CHANNEL_REQUEST_CHANNEL_H_

#include <functional>
#include <string>

#include "docsec/channel/data_source.h"
#include "docsec/platform/export.h"
#include "docsec/platform/xml.h"

namespace docsec {

// A new request document naming `operationName`, or a null document when none can be made.
DOCSEC_EXPORT XmlDocument BuildRequestDocument(const std::string& operationName);
// Sends `request`'s text through the transport entry point of `dataSource` (1: SvcTransportSend,
// any other: SvcTransportSendEx) and returns the parsed answer: a null document when there was no
// answer (or `request` is null, which sends nothing), a document without root element when the
// answer's text does not parse.
DOCSEC_EXPORT XmlDocument SendRequestDocument(const XmlDocument& request, int dataSource);
// The server requests go to now, as a name that stays the same for the same server ("" when
// nothing delivers); see SvcTransportDestination.
DOCSEC_EXPORT std::string RequestDestination();
// The operation `request` names (its "service" value), "" when it names none. Never throws.
DOCSEC_EXPORT std::string RequestOperationName(const XmlDocument& request);
// 1 when the answer reports success. Stores the answer's code in the last-error word unless the
// answer has no usable code or the code is 9999 (the no-value mark). Never throws.
DOCSEC_EXPORT int CheckAnswerDocument(const XmlDocument& answer);

// Appends an operation's elements after "service"; false stops the exchange before anything is
// sent (the outcome then names the operation as one the library could not build).
using RequestFiller = std::function<bool(XmlElement& root)>;

// What ExchangeRequest hands back when the server refused the request.
enum class RefusedAnswer {
  kDrop,  // a null document: the caller acts on success only
  kKeep,  // whatever answer came back (perhaps without a root element), for callers that read
          // an answer whatever its code
};

// One request and its answer: builds the request for `operation`, lets `fill` (when set) append
// its elements, sends it through `dataSource`'s entry point, checks the answer and records the
// outcome on the calling thread (LastOutcome): success, the transport's cause, the server's code
// and message verbatim, or the library's reason. Returns the accepted answer; a null document for
// no answer or a failed request (with kKeep, any answer that came back, refused or not:
// LastOutcome tells which). A ComError raised by `fill` propagates, after the outcome
// has recorded it.
DOCSEC_EXPORT XmlDocument ExchangeRequest(const std::string& operation, int dataSource,
                                          const RequestFiller& fill,
                                          RefusedAnswer refused = RefusedAnswer::kDrop);

}  // namespace docsec

#endif  // DOCSEC_CHANNEL_REQUEST_CHANNEL_H_
