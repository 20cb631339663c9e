// Start-up and shut-down order.
#include "docsec/core/library.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "docsec/testing/test_objects.h"

namespace docsec {
namespace {

std::vector<std::string>* g_steps = nullptr;
bool g_instance_alive_at_cache_release = false;

void Record(const std::string& step) {
  if (g_steps != nullptr) g_steps->push_back(step);
}

struct Probe {
  Probe() { Record("probe-created"); }
  ~Probe() { Record("probe-destroyed"); }
};
Probe* g_probe = nullptr;

void CreateProbe() { g_probe = new Probe; }
void DestroyProbe() {
  delete g_probe;
  g_probe = nullptr;
}
void ReleaseSecretLevels() {
  g_instance_alive_at_cache_release = g_probe != nullptr;
  Record("release-secret-levels");
}
void ReleaseApplications() { Record("release-applications"); }
void BindIcmp() { Record("icmp-bound"); }
void ReleaseIcmp() { Record("icmp-freed"); }

TEST(Library, IsStartedWhenLoadedAndSharedInstancesExist) {
  EXPECT_TRUE(internal::LibraryIsStarted());
  EXPECT_NE(testing::DepartmentLike::GetClassInstance(), nullptr);
}

TEST(Library, ShutdownReleasesCachesFirstThenSocketsThenXmlThenInstancesLast) {
  std::vector<std::string> steps;
  g_steps = &steps;
  internal::SetLifecycleObserver(Record);
  // Registered after start-up: the instance is built at once. Caches registered out of order
  // still release in the fixed order.
  internal::RegisterClassInstance(&CreateProbe, &DestroyProbe);
  internal::RegisterCacheRelease(kSecretLevelCache, &ReleaseSecretLevels);
  internal::RegisterCacheRelease(kApplicationCache, &ReleaseApplications);
  internal::RegisterIcmpService(&BindIcmp, &ReleaseIcmp);
  ASSERT_NE(g_probe, nullptr);

  steps.clear();
  internal::LibraryShutdown();
  EXPECT_FALSE(internal::LibraryIsStarted());
  const std::vector<std::string> expected_stop = {"release-applications",
                                                  "cache:1",
                                                  "release-secret-levels",
                                                  "cache:2",
                                                  "sockets-stop",
                                                  "xml-stop",
                                                  "icmp-freed",
                                                  "icmp-release",
                                                  "probe-destroyed",
                                                  "instances-destroyed"};
  EXPECT_EQ(steps, expected_stop);
  EXPECT_TRUE(g_instance_alive_at_cache_release);
  internal::LibraryShutdown();  // a second stop does nothing
  EXPECT_EQ(steps.size(), expected_stop.size());

  steps.clear();
  ASSERT_TRUE(internal::LibraryStartup());
  const std::vector<std::string> expected_start = {"probe-created", "instances-created",
                                                   "icmp-bound", "application-started"};
  EXPECT_EQ(steps, expected_start);
  EXPECT_NE(testing::DepartmentLike::GetClassInstance(), nullptr);
  internal::SetLifecycleObserver(nullptr);
  g_steps = nullptr;
}

}  // namespace
}  // namespace docsec
