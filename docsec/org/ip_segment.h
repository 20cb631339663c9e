// CDOIpSegment: an IP address range bound to a department. The library never parses the
// addresses: it stores and sends the caller's text unchanged. Two segments are equal when their
// "ipFrom" and "ipTo" texts are identical.
//
// Ownership: a department owns the segments of its segment list; the owner is a back reference.
#ifndef DOCSEC_ORG_IP_SEGMENT_H_
#define DOCSEC_ORG_IP_SEGMENT_H_

#include "docsec/core/data_object_class.h"

namespace docsec {

class CDODepartment;

class DOCSEC_EXPORT CDOIpSegment : public CDataObject {
  DOCSEC_DATA_OBJECT(CDOIpSegment)

  static constexpr Attr kIpFrom{"ipFrom", kVtBstr, kAttrKey};
  static constexpr Attr kIpTo{"ipTo", kVtBstr, kAttrKey};
  static constexpr Attr kOldIpFrom{"oldIpFrom"};
  static constexpr Attr kOldIpTo{"oldIpTo"};
  static constexpr Attr kNewIpFrom{"newIpFrom"};
  static constexpr Attr kNewIpTo{"newIpTo"};
  static constexpr auto kAttributes =
      Attrs(&kIpFrom, &kIpTo, &kOldIpFrom, &kOldIpTo, &kNewIpFrom, &kNewIpTo);

  // Copies every attribute value of `other`, not its owner.
  explicit CDOIpSegment(CDOIpSegment* other);

  // Own virtual operations, in slot order.
  virtual CDODepartment* GetOwnerDepartment();
  virtual void SetOwnerDepartment(CDODepartment* owner);

  DOCSEC_TEXT_PROPERTY(IpSegmentFrom, kIpFrom)
  DOCSEC_TEXT_PROPERTY(IpSegmentTo, kIpTo)

  // Changes this range to the replacement's ("UpdateIpSegment" under the owner's key element).
  int UpdateIpSegment(CDOIpSegment* replacement);

 private:
  CDODepartment* owner_ = nullptr;
};

}  // namespace docsec

#endif  // DOCSEC_ORG_IP_SEGMENT_H_
