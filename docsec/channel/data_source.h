// Data sources: which of the transport's two entry points a request goes through. Every object
// carries one (CDataObject::SetDataSource); the values are the API's numbers, and any number
// other than the default one goes to the second entry point.
//
// Constants only; safe from any thread.
#ifndef DOCSEC_CHANNEL_DATA_SOURCE_H_
#define DOCSEC_CHANNEL_DATA_SOURCE_H_

namespace docsec {

// The management server's ordinary entry point (SvcTransportSend): every object's data source
// until changed, and the one settings and computer-status queries always use.
constexpr int kDefaultDataSource = 1;
// The log and scan databases behind the second entry point (SvcTransportSendEx): log searches
// and the computers' scan state.
constexpr int kLogDataSource = 2;
// Audit records are uploaded through the ordinary entry point, as a console's new log record is.
constexpr int kLogUploadDataSource = kDefaultDataSource;

}  // namespace docsec

#endif  // DOCSEC_CHANNEL_DATA_SOURCE_H_
