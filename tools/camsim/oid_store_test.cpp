#include "oid_store.h"

#include <gtest/gtest.h>

namespace camsim {
namespace {

OidStore MakeStore(std::string_view model = "IQ765") {
  return OidStore(*FindModel(model), "02-00-5E-10-00-07", 8554);
}

// Text between "<xmp>" and "</xmp>" of a reply page.
std::string Xmp(const std::string& page) {
  const size_t open = page.find("<xmp>");
  const size_t close = page.find("</xmp>");
  EXPECT_NE(open, std::string::npos);
  EXPECT_NE(close, std::string::npos);
  return page.substr(open + 5, close - open - 5);
}

TEST(DeviceModelTest, VariantSuffixesRemoveFeatures) {
  const auto full = FindModel("IQ765");
  ASSERT_TRUE(full);
  EXPECT_TRUE(full->audio && full->io && full->privacy && full->h264 && full->has_modes);
  const auto bare = FindModel("IQ765-noaudio-noio-noprivacy");
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->audio || bare->io || bare->privacy);
  EXPECT_EQ(bare->name, "IQ765");
  EXPECT_FALSE(FindModel("IQ765-nosuch"));
  EXPECT_FALSE(FindModel("XYZ"));
  // Every base model, its maximum size and default mode, is queried through
  // the driver in query_capability_test.
}

// Writes the camera takes are what curl and the driver make (camsim_interop
// and integration tests); here what it refuses, and the escapes.
TEST(OidStoreTest, RefusedWritesChangeNothingAndEscapesAreUndone) {
  OidStore store = MakeStore();
  std::vector<OidWrite> writes;
  const auto mode = store.Read("1.17.2.6");
  // A leading "&" (empty item) is skipped.
  const std::string page =
      store.SetPage("&OidTR1.17.2.6=mode99&OidTR1.2.7=0&OidTR2.8=X&OidTR7.7=1&junk=1", &writes);
  ASSERT_EQ(writes.size(), 5u);
  for (const auto& w : writes) EXPECT_FALSE(w.accepted) << w.oid;
  EXPECT_EQ(store.Read("1.17.2.6"), mode);
  EXPECT_EQ(store.Read("2.8"), "IQ765");
  EXPECT_FALSE(store.Read("7.7"));  // writes never create objects
  EXPECT_NE(Xmp(page).find("1.17.2.6=ERROR"), std::string::npos);
  EXPECT_FALSE(store.Write("1.2.26.1.1.9", "1").accepted);  // eight zones, no ninth
  EXPECT_FALSE(store.Write("1.2.26.4", "yes").accepted);
  EXPECT_FALSE(store.Write("1.3.5.1", "closed").accepted);
  store.SetPage("OidTR1.9.10=ab%43d&OidTR2.27=My+Cam", &writes);
  EXPECT_EQ(store.Read("1.9.10"), "abCd");
  EXPECT_EQ(store.Read("2.27"), "My Cam");
  EXPECT_EQ(UnescapeQueryItem("%4"), "%4");  // truncated escape stays as it is
  EXPECT_EQ(UnescapeQueryItem("%zz%41"), "%zzA");
}

TEST(OidStoreTest, LimitsOnValueLengthAndItemCount) {
  OidStore store = MakeStore();
  EXPECT_TRUE(store.Write("2.27", std::string(OidStore::kMaxValueLength, 'a')).accepted);
  EXPECT_FALSE(store.Write("2.27", std::string(OidStore::kMaxValueLength + 1, 'a')).accepted);

  std::string at_limit;
  for (size_t i = 0; i < OidStore::kMaxItemsPerRequest; ++i)
    at_limit += "OidTR1.2.7=" + std::to_string(1 + i % 90) + "&";
  std::vector<OidWrite> writes;
  store.SetPage(at_limit, &writes);
  EXPECT_EQ(writes.size(), OidStore::kMaxItemsPerRequest);
  writes.clear();
  const std::string page = store.SetPage(at_limit + "OidTR1.2.7=50", &writes);
  EXPECT_EQ(writes.size(), OidStore::kMaxItemsPerRequest);
  EXPECT_NE(page.find("too many"), std::string::npos);
  EXPECT_NE(store.Read("1.2.7"), "50");
}

}  // namespace
}  // namespace camsim
