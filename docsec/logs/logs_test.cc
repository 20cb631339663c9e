// The log and scan classes: identity, declarations, and the extension comparison.
#include <gtest/gtest.h>

#include "docsec/logs/auto_scan_app_type.h"
#include "docsec/logs/drm_log.h"
#include "docsec/logs/scan_drm_log.h"
#include "docsec/logs/scan_file_extend.h"
#include "docsec/logs/scan_log_app.h"
#include "docsec/logs/scan_log_file.h"
#include "docsec/testing/class_checks.h"

namespace docsec {
namespace {

using testing::ExpectWellFormedClass;

TEST(LogsClasses, AreWellFormed) {
  testing::ExpectWellFormedClasses({
      {&ExpectWellFormedClass<CDODrmLog>, kObjectTypeNone, "Log", "log"},
      {&ExpectWellFormedClass<CDOScanDrmLog>, kObjectTypeNone, "ScanLog", "scanLog"},
      {&ExpectWellFormedClass<CDOScanLogApp>, kObjectTypeNone, "ScanLogApp", "scanLogApp"},
      {&ExpectWellFormedClass<CDOScanLogFile>, kObjectTypeNone, "ScanLogFile", "scanLogFile"},
      {&ExpectWellFormedClass<CDOAutoScanAppType>, kObjectTypeAutoScanAppType, "AppExe", "appExe"},
      {&ExpectWellFormedClass<CDOScanFileExtend>, kObjectTypeScanFileExtend, "Extend", "extend"},
  });
}

TEST(ScanFileExtend, NamesCompareIgnoringLetterCase) {
  const struct {
    const char* mine;
    const char* other;
    int equal;
  } cases[] = {{"DOC", "doc", 1}, {"doc", "doc", 1}, {"DOC", "docx", 0}};
  for (const auto& c : cases) {
    CDOScanFileExtend a, b;
    a.SetAppName(c.mine);
    b.SetAppName(c.other);
    EXPECT_EQ(a.Equals(&b), c.equal) << c.mine << " / " << c.other;
  }
}

}  // namespace
}  // namespace docsec
