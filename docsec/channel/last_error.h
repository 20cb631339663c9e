// The last-error word: the server's code from the last answer that carried one. Process-wide and
// atomic: the API reads it with no request or thread named, so concurrent requests on several
// threads overwrite each other's code, but never tear it.
#ifndef DOCSEC_CHANNEL_LAST_ERROR_H_
#define DOCSEC_CHANNEL_LAST_ERROR_H_

#include "docsec/platform/export.h"

namespace docsec {

// Stores `code` in the last-error word.
DOCSEC_EXPORT void SetLastDrmError(unsigned long code);
// Returns the last-error word and resets it to 0: every read clears it.
DOCSEC_EXPORT unsigned long GetLastDrmError();

}  // namespace docsec

#endif  // DOCSEC_CHANNEL_LAST_ERROR_H_
