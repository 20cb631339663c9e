// Outcomes of verbs that fail after an accepted answer or before any request, shared by the
// data-object classes so that every class words them the same way.
//
// Library-internal; each call records on the calling thread's outcome.
#ifndef DOCSEC_CORE_INTERNAL_VERB_FAILURE_H_
#define DOCSEC_CORE_INTERNAL_VERB_FAILURE_H_

#include <string>

namespace docsec {

class CDataObject;

namespace core_internal {

// "department 42", "authLevelByUser userId=7 levelId=2": `object`'s type and key values, as its
// key element names it.
std::string NamedByKey(CDataObject* object);

// Records that the accepted answer of the exchange just made does not hold `object` ("department
// 42 not in the answer") and returns 0. The last-error word keeps the answer's code: it only ever
// holds what a server said.
int NotInAnswer(CDataObject* object);

}  // namespace core_internal
}  // namespace docsec

#endif  // DOCSEC_CORE_INTERNAL_VERB_FAILURE_H_
