// svctransport: the server transport. Two entry points carry a request document to the management
// server and give back its answer document: SvcTransportSend serves data source 1 and
// SvcTransportSendEx every other data source. Both are synchronous.
//
// Delivery is pluggable. In-process delivery hands the request's whole text to a handler and
// parses the text the handler returns: an empty text means no answer (a null document), text that
// does not parse gives a document without a root element. With no handler installed every send
// gives a null document.
//
// Thread safety: the entry points may be called from several threads; the handler is then called
// concurrently and must be thread-safe itself. Replacing the handler while sends run is allowed.
#ifndef SVCTRANSPORT_SVCTRANSPORT_H_
#define SVCTRANSPORT_SVCTRANSPORT_H_

#include <functional>
#include <string>

#include "docsec/platform/xml.h"

#if defined(SVCTRANSPORT_BUILDING)
#define SVCTRANSPORT_EXPORT __attribute__((visibility("default")))
#else
#define SVCTRANSPORT_EXPORT
#endif

namespace docsec {

// The handler of in-process delivery: gets the entry point (1 or 2) and the request's text and
// returns the answer's text.
using SvcTransportHandler = std::function<std::string(int entry_point, const std::string& request)>;

// Installs `handler` (an empty function removes it) and returns the previous one.
SVCTRANSPORT_EXPORT SvcTransportHandler SvcTransportSetHandler(SvcTransportHandler handler);

// Entry point 1. A null request gives a null answer without calling the handler.
SVCTRANSPORT_EXPORT XmlDocument SvcTransportSend(const XmlDocument& request);
// Entry point 2; same shape as entry point 1.
SVCTRANSPORT_EXPORT XmlDocument SvcTransportSendEx(const XmlDocument& request);

}  // namespace docsec

#endif  // SVCTRANSPORT_SVCTRANSPORT_H_
