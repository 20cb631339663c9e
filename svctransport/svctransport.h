// svctransport: the server transport. Two entry points carry a request to the management server
// and give back its answer: SvcTransportSend serves data source 1 and SvcTransportSendEx every
// other data source. Both are synchronous.
//
// The entry points carry text, not documents. docsec links this library, and on this platform no
// document object can be shared across a library boundary: a document belongs to the XML facade
// of the library that made it, so handing one over would mean a second copy of the facade (and of
// its parser) in this library. Instead docsec's request channel renders the request document to
// text and parses the answer's text, and the facade has one owner.
//
// The answer's text comes back by value, in a std::string the caller then owns outright: nothing
// needs freeing, and the caller may move the string into its parser, which keeps it and parses it
// in place instead of copying it. std::string already crosses this boundary in the handler's
// signature, so it adds no new type the two libraries must agree on.
//
// Delivery is pluggable. In-process delivery hands the request's text to a handler and gives back
// the text the handler returns; an empty text means no answer. With no handler installed every
// send gives no answer.
//
// Thread safety: the entry points may be called from several threads; the handler is then called
// concurrently and must be thread-safe itself. Replacing the handler while sends run is allowed.
#ifndef SVCTRANSPORT_SVCTRANSPORT_H_
#define SVCTRANSPORT_SVCTRANSPORT_H_

#include <functional>
#include <optional>
#include <string>

#if defined(SVCTRANSPORT_BUILDING)
#define SVCTRANSPORT_EXPORT __attribute__((visibility("default")))
#else
#define SVCTRANSPORT_EXPORT
#endif

namespace docsec {

// The handler of in-process delivery: gets the entry point (1 or 2) and the request's text and
// returns the answer's text, or an empty text for no answer.
using SvcTransportHandler = std::function<std::string(int entry_point, const std::string& request)>;

// Installs `handler` (an empty function removes it) and returns the previous one.
SVCTRANSPORT_EXPORT SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler);

// Entry point 1: sends `request`, the whole request document as text, and returns the answer's
// text, which the caller owns; no value when there was no answer.
SVCTRANSPORT_EXPORT std::optional<std::string> SvcTransportSend(const std::string& request);
// Entry point 2; same contract as entry point 1.
SVCTRANSPORT_EXPORT std::optional<std::string> SvcTransportSendEx(const std::string& request);

}  // namespace docsec

#endif  // SVCTRANSPORT_SVCTRANSPORT_H_
