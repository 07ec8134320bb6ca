#include "device/privacy_zone.h"

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "recorder/video_params.h"

namespace korvela {
namespace {

using std::chrono::seconds;

recorder::VideoParams Zones(std::vector<recorder::ZoneSpec> zones) {
  recorder::VideoParams list;
  list.SetZones(zones);
  return list;
}

recorder::ZoneSpec Zone(float left, float top, float right, float bottom) {
  return {0, 0, 1, left, top, right, bottom};
}

// Records what Apply asks the camera to do.
class RecordingZones : public CBasePrivacyZone {
 public:
  RecordingZones() : CBasePrivacyZone(nullptr) {}
  int masking_calls = 0;
  std::vector<std::vector<PrivacyZoneRecord>> writes;

 protected:
  void EnableMasking() override REQUIRES(apply_lock_) { ++masking_calls; }
  void WriteZones() override REQUIRES(apply_lock_) {
    std::vector<PrivacyZoneRecord> set;
    for (const auto& zone : ZonesToWrite()) set.push_back(zone.Record());
    writes.push_back(std::move(set));
  }
};

TEST(PrivacyZoneTest, KeepsAtMostThirtyTwoZones) {
  std::vector<recorder::ZoneSpec> forty;
  for (int i = 0; i < 40; ++i) forty.push_back(Zone(static_cast<float>(i), 0, 1, 1));
  auto list = Zones(forty);
  RecordingZones zones;
  zones.SetZones(&list);
  auto kept = zones.Zones();
  ASSERT_EQ(kept.size(), CBasePrivacyZone::kMaxPrivacyZones);
  EXPECT_EQ(kept.back().left, 31.0f);

  // Exactly at the limit the list is read up to its end.
  auto thirty_two = Zones({forty.begin(), forty.begin() + 32});
  zones.SetZones(&thirty_two);
  EXPECT_EQ(zones.Zones().size(), 32u);
  EXPECT_FALSE(zones.Changed());  // the same first 32 zones as before
}

TEST(PrivacyZoneTest, ChangedFollowsEverySetZones) {
  RecordingZones zones;
  auto first = Zones({Zone(10, 20, 50, 60), Zone(1, 2, 3, 4)});
  zones.SetZones(&first);
  EXPECT_TRUE(zones.Changed());

  auto same = Zones({Zone(10, 20, 50, 60), Zone(1, 2, 3, 4)});
  zones.SetZones(&same);
  EXPECT_FALSE(zones.Changed());
  zones.Apply();
  EXPECT_EQ(zones.masking_calls, 0);
  EXPECT_TRUE(zones.writes.empty());

  auto other_bottom = Zones({Zone(10, 20, 50, 60), Zone(1, 2, 3, 5)});
  zones.SetZones(&other_bottom);
  EXPECT_TRUE(zones.Changed());

  auto fewer = Zones({Zone(10, 20, 50, 60)});
  zones.SetZones(&fewer);
  EXPECT_TRUE(zones.Changed());

  auto reordered = Zones({Zone(1, 2, 3, 5), Zone(10, 20, 50, 60)});
  zones.SetZones(&other_bottom);
  zones.SetZones(&reordered);
  EXPECT_TRUE(zones.Changed());  // pairwise in order
}

TEST(PrivacyZoneTest, ApplyWritesWhileChangedAndDoesNotClearIt) {
  RecordingZones zones;
  auto list = Zones({Zone(10, 20, 50, 60)});
  zones.SetZones(&list);
  EXPECT_TRUE(zones.Apply());
  EXPECT_TRUE(zones.Apply());
  EXPECT_EQ(zones.masking_calls, 2);
  ASSERT_EQ(zones.writes.size(), 2u);
  EXPECT_EQ(zones.writes[1].front().bottom, 60.0f);
  EXPECT_TRUE(zones.Changed());
}

TEST(PrivacyZoneTest, NullListOrCollectionIsAnEmptySetThatSwitchesMaskingOnOnly) {
  struct NoCollection : ipcapture::IVideoParams {
    ipcapture::IVideoFormat* GetFormat() override { return nullptr; }
    ipcapture::IVideoRate* GetRate() override { return nullptr; }
    ipcapture::IPrivacyZoneCollection* GetPrivacyZones() override { return nullptr; }
  } no_collection;
  RecordingZones zones;
  zones.SetZones(nullptr);
  EXPECT_FALSE(zones.Changed());
  auto list = Zones({Zone(1, 1, 2, 2)});
  zones.SetZones(&list);
  zones.SetZones(&no_collection);
  EXPECT_TRUE(zones.Changed());
  EXPECT_TRUE(zones.Zones().empty());
  // An empty set after zones switches masking on and writes nothing.
  zones.Apply();
  EXPECT_EQ(zones.masking_calls, 1);
  EXPECT_TRUE(zones.writes.empty());
}

// Apply blocked in the middle of writing (a slow camera) must not hold up the
// recorder's SetZones, and writes the set it started with.
TEST(PrivacyZoneTest, SetZonesDoesNotWaitForAnApplyInProgress) {
  struct BlockingZones : RecordingZones {
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    void WriteZones() override REQUIRES(apply_lock_) {
      RecordingZones::WriteZones();
      entered.set_value();
      released.wait();
    }
  } zones;
  auto old_set = Zones({Zone(1, 1, 2, 2)});
  auto new_set = Zones({Zone(3, 3, 4, 4), Zone(5, 5, 6, 6)});
  zones.SetZones(&old_set);

  auto entered = zones.entered.get_future();
  std::thread worker([&] { zones.Apply(); });
  entered.wait();
  auto set = std::async(std::launch::async, [&] { zones.SetZones(&new_set); });
  const bool finished = set.wait_for(seconds(30)) == std::future_status::ready;
  zones.release.set_value();
  worker.join();
  set.wait();
  EXPECT_TRUE(finished) << "SetZones waited for the camera";

  ASSERT_EQ(zones.writes.size(), 1u);
  ASSERT_EQ(zones.writes[0].size(), 1u);
  EXPECT_EQ(zones.writes[0][0].left, 1.0f);
  EXPECT_EQ(zones.Zones().size(), 2u);
}

// Several channels applying at once: the writes never overlap, each sees a
// whole set.
TEST(PrivacyZoneTest, ConcurrentAppliesAreSerialised) {
  struct CountingZones : RecordingZones {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    void WriteZones() override REQUIRES(apply_lock_) {
      if (inside.fetch_add(1) != 0) overlapped = true;
      std::this_thread::yield();
      RecordingZones::WriteZones();
      inside.fetch_sub(1);
    }
  } zones;
  auto a = Zones({Zone(1, 1, 2, 2)});
  auto b = Zones({Zone(3, 3, 4, 4), Zone(5, 5, 6, 6)});
  zones.SetZones(&a);
  std::vector<std::thread> channels;
  for (int t = 0; t < 4; ++t)
    channels.emplace_back([&] {
      for (int i = 0; i < 200; ++i) zones.Apply();
    });
  for (int i = 0; i < 200; ++i) zones.SetZones(i % 2 == 0 ? &b : &a);
  for (auto& t : channels) t.join();
  EXPECT_FALSE(zones.overlapped);
  for (const auto& set : zones.writes) {
    ASSERT_FALSE(set.empty());
    EXPECT_EQ(set.size(), set[0].left == 1.0f ? 1u : 2u);
  }
}

}  // namespace
}  // namespace korvela
