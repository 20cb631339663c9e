// SharedInstance<T>: the class-wide instance of a data-object class (its receiver of class-wide
// operations and prototype for objects loaded from answers). Each class defines one as a static in
// its source file and returns Get() from its exported GetClassInstance(); the library builds the
// instance at start-up and destroys it last at shut-down.
#ifndef DOCSEC_CORE_SHARED_INSTANCE_H_
#define DOCSEC_CORE_SHARED_INSTANCE_H_

#include "docsec/core/library.h"

namespace docsec {

// Classes are defined in the library's sources (and in the tests' static builds), never in a
// console: the registration it makes is not exported.
#if defined(DOCSEC_BUILDING_LIBRARY) || defined(DOCSEC_STATIC)
template <class T>
class SharedInstance {
 public:
  SharedInstance() { internal::RegisterClassInstance(&Create, &Destroy); }
  SharedInstance(const SharedInstance&) = delete;
  SharedInstance& operator=(const SharedInstance&) = delete;

  // The instance; built on first use when asked for before start-up has reached it.
  T* Get() const {
    if (instance_ == nullptr) Create();
    return instance_;
  }

 private:
  static void Create() {
    if (instance_ == nullptr) instance_ = new T;
  }
  static void Destroy() {
    delete instance_;
    instance_ = nullptr;
  }
  static inline T* instance_ = nullptr;
};
#endif

}  // namespace docsec

#endif  // DOCSEC_CORE_SHARED_INSTANCE_H_
