// CDOApplication: a program whose documents the product protects, known to the server by name,
// with the process-wide catalogue of every application.
//
// Ownership: the catalogue owns its members from its first load until ReleaseAllInstance (called
// by the caller, or by the library's shut-down before the secret levels); every pointer taken from
// it (GetAllInstance, GetInstanceByName, a default level's GetApplication) dies then, and a debug
// build stops on the next use of such a pointer.
//
// Thread safety: the catalogue may be asked for from several threads at once and is loaded once;
// it must not be released while another thread reads it. An application object itself is used by
// one thread at a time.
#ifndef DOCSEC_POLICY_APPLICATION_H_
#define DOCSEC_POLICY_APPLICATION_H_

#include "docsec/core/data_object_class.h"
#include "docsec/policy/catalogue.h"

namespace docsec {

class DOCSEC_EXPORT CDOApplication : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOApplication)

  static constexpr Attr kName{"name", kVtBstr, kAttrKey};  // case matters: "Word" is not "word"
  static constexpr Attr kDescription{"description"};
  static constexpr auto kAttributes = Attrs(&kName, &kDescription);

  // Accessors; on an application of a released catalogue they stop a debug build.
  int GetName(char* buffer, unsigned long size) { return Live()->GetText(kName, buffer, size); }
  int SetName(const char* text) { return Live()->SetText(kName, text); }
  int GetDescription(char* buffer, unsigned long size) {
    return Live()->GetText(kDescription, buffer, size);
  }
  int SetDescription(const char* text) { return Live()->SetText(kDescription, text); }

  // The catalogue, loaded with "QueryApplication" (no conditions) when absent; null when it cannot
  // be loaded (the next call tries again). Owned by the class.
  static DataObjectList* GetAllInstance();
  // Deletes the catalogue with its members; pointers into it die. The next GetAllInstance loads it
  // again.
  static void ReleaseAllInstance();
  // The first catalogue member whose name equals `name` byte for byte, loading the catalogue when
  // absent; null for a null or empty name, no match or no catalogue.
  static CDOApplication* GetInstanceByName(const char* name);

 private:
  CDOApplication* Live() {
    internal::AssertNotReleased(this);
    return this;
  }
};

}  // namespace docsec

#endif  // DOCSEC_POLICY_APPLICATION_H_
