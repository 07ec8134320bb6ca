#include "device/capability_query.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/event.h"
#include "recorder/capability_host.h"

namespace korvela {
namespace {

using recorder::CapabilityHost;
using recorder::CapabilityResult;
using std::chrono::seconds;

// Properties whose query outcome the test chooses.
class FakeProperties : public CBaseCameraProperties {
 public:
  enum class Mode { kSucceed, kUnsavable, kFail, kBlockUntilAbort, kBlockUntilReleased };

  FakeProperties(const DEVICE_INFO& device, Mode mode, uint32_t fail_status)
      : CBaseCameraProperties(device, 1), mode_(mode), fail_status_(fail_status) {
    model_name_ = "IQ765";
    // Without a stream type the results cannot be saved.
    if (mode != Mode::kUnsavable) stream_types_.insert(kReportedH264);
    frame_rates_ = {10, 30};
    default_frame_rate_ = 30;
    picture_sizes_.Add(1920, 1080, 0);
  }

  bool Query(uint32_t& status) override {
    ++queries;
    query_started.Set();
    switch (mode_) {
      case Mode::kSucceed:
      case Mode::kUnsavable:
        loaded_ = 1;
        return true;
      case Mode::kFail:
        status = fail_status_;
        return false;
      case Mode::kBlockUntilAbort:
        // Bounded so that a broken abort fails the test instead of hanging it.
        abort_event_.Wait(30000);
        break;
      case Mode::kBlockUntilReleased:
        release.Wait(30000);
        break;
    }
    status = 3;
    return false;
  }
  bool FillProperties(ipcapture::ICapabilityResultSink* sink) override {
    AddProperty(sink, 1, "Video standard", "1", false);
    return true;
  }
  void Abort() override { ++aborts; }

  std::atomic<int> queries{0};
  std::atomic<int> aborts{0};
  platform::Event query_started{platform::Event::Mode::kManualReset};
  platform::Event release{platform::Event::Mode::kManualReset};

 private:
  const Mode mode_;
  const uint32_t fail_status_;
};

class TestModule : public CCapabilityQueryModule {
 public:
  using Factory = std::function<std::shared_ptr<FakeProperties>(const DEVICE_INFO&)>;
  TestModule(ipcapture::ICapabilityQueryCallback* callback, Factory factory)
      : CCapabilityQueryModule(callback, true), factory_(std::move(factory)) {}
  ~TestModule() override { Shutdown(); }
  int creations = 0;

 protected:
  std::shared_ptr<CBaseCameraProperties> CreateProperties() override {
    ++creations;
    return factory_ ? factory_(device()) : nullptr;
  }

 private:
  Factory factory_;
};

struct Fixture {
  CapabilityHost host;
  std::shared_ptr<FakeProperties> props;
  std::unique_ptr<TestModule> module;

  explicit Fixture(FakeProperties::Mode mode, uint32_t fail_status = 3) {
    module = std::make_unique<TestModule>(&host, [this, mode, fail_status](const DEVICE_INFO& d) {
      props = std::make_shared<FakeProperties>(d, mode, fail_status);
      return props;
    });
  }
  bool Start(const char* address = "192.168.0.90", bool with_sink = true) {
    return module->Start(address, 80, "root", "system", with_sink ? &host : nullptr);
  }
  CapabilityResult WaitResult() {
    EXPECT_TRUE(host.WaitForReport(seconds(30)));
    module.reset();  // joins the worker: no report can follow
    return host.Snapshot();
  }
};

// A completed query as the recorder sees it is query_capability_test's.
TEST(CapabilityQueryModuleTest, EachFailureIsReportedOnceWithItsStatusAndMessage) {
  using Mode = FakeProperties::Mode;
  const struct {
    Mode mode;
    uint32_t query_status;
    const char* address;
    bool with_sink;
    uint32_t status;
    const char* message;
    int queries;
  } cases[] = {
      {Mode::kFail, 1, "cam", true, 1,
       "Failed to get camera properties, login failed (invalid credentials)", 1},
      {Mode::kFail, 2, "cam", true, 2,
       "Failed to get camera properties, device is offline or is located in unaccessible subnet",
       1},
      {Mode::kFail, 3, "cam", true, 3, "Failed to get camera properties", 1},
      {Mode::kUnsavable, 0, "cam", true, 3, "Failed to save capability query results", 1},
      {Mode::kSucceed, 0, "cam", false, 3,
       "Failed to start capability fetching thread. Internal error occurs", 0},
      {Mode::kSucceed, 0, "192.168.1.20:8080", true, 0,
       "Failed to start capability fetching thread. Device address is invalid!", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Fixture f(c.mode, c.query_status);
    ASSERT_TRUE(f.Start(c.address, c.with_sink));
    const CapabilityResult r = f.WaitResult();
    EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
    EXPECT_EQ(r.failure_status, c.status);
    EXPECT_EQ(r.failure_message, c.message);
    EXPECT_EQ(r.reports, 1);
    EXPECT_EQ(f.props->queries.load(), c.queries);
  }
}

TEST(CapabilityQueryModuleTest, AddressesWithCharactersOfNoHostNameAreInvalid) {
  for (char c : std::string("@#$%^&*(){}[]/\\+=|:;,~'\"!?"))
    EXPECT_FALSE(IsValidDeviceAddress(std::string("10.0.0.") + c + "1")) << c;
  EXPECT_TRUE(IsValidDeviceAddress("camera-7.example.org"));
  EXPECT_TRUE(IsValidDeviceAddress("192.168.1.20"));
}

TEST(CapabilityQueryModuleTest, StartRulesReportNothingOnRefusal) {
  Fixture f(FakeProperties::Mode::kSucceed);
  EXPECT_FALSE(f.module->Start(nullptr, 80, "u", "p", &f.host));
  EXPECT_FALSE(f.module->Start("a", 80, nullptr, "p", &f.host));
  EXPECT_FALSE(f.module->Start("a", 80, "u", nullptr, &f.host));
  EXPECT_EQ(f.module->creations, 0);
  ASSERT_TRUE(f.Start());
  EXPECT_FALSE(f.Start());  // one query per module
  EXPECT_EQ(f.WaitResult().reports, 1);

  CapabilityHost host;
  {
    TestModule no_props(&host, TestModule::Factory());
    EXPECT_FALSE(no_props.Start("a", 80, "u", "p", &host));
  }
  EXPECT_EQ(host.Snapshot().reports, 0);
}

TEST(CapabilityQueryModuleTest, TerminateOrDeleteAbortsABlockedQueryThatReportsOnce) {
  for (bool terminate_first : {true, false}) {
    SCOPED_TRACE(terminate_first ? "Terminate" : "delete");
    Fixture f(FakeProperties::Mode::kBlockUntilAbort);
    ASSERT_TRUE(f.Start());
    ASSERT_TRUE(f.props->query_started.Wait(30000));
    if (terminate_first) {
      f.module->Terminate();
      ASSERT_TRUE(f.host.WaitForReport(seconds(30)));
    }
    f.module.reset();
    const CapabilityResult r = f.host.Snapshot();
    EXPECT_GE(f.props->aborts.load(), 1);
    EXPECT_EQ(r.failure_status, 3u);
    EXPECT_EQ(r.failure_message, "Failed to get camera properties");
    EXPECT_EQ(r.reports, 1);
  }
}

TEST(CapabilityQueryModuleTest, AStuckWorkerIsWaitedForNotKilledAndStillReportsOnce) {
  Fixture f(FakeProperties::Mode::kBlockUntilReleased);
  f.module->set_http_timeout_ms(20);
  int overruns = 0;
  f.module->set_shutdown_overrun_hook([&] {
    ++overruns;
    f.props->release.Set();
  });
  ASSERT_TRUE(f.Start());
  ASSERT_TRUE(f.props->query_started.Wait(30000));
  f.module.reset();
  EXPECT_EQ(overruns, 1);
  const CapabilityResult r = f.host.Snapshot();
  EXPECT_EQ(r.outcome, CapabilityResult::Outcome::kFailed);
  EXPECT_EQ(r.reports, 1);  // no OnTerminated on top of the worker's own report
}

// A recorder that deletes the module from inside its completion callback.
class DeletingCallback : public CapabilityHost {
 public:
  std::unique_ptr<TestModule> module;
  platform::Event deleted{platform::Event::Mode::kManualReset};
  void OnCompleted() override {
    CapabilityHost::OnCompleted();
    module.reset();
    deleted.Set();
  }
};

TEST(CapabilityQueryModuleTest, ModuleMayBeDeletedFromItsOwnCallback) {
  // A recorder's callback outlives the callback call; the worker may still be
  // returning from it when `deleted` is seen, so it lives to the process end
  // (the library joins the orphaned worker before then).
  static std::vector<std::unique_ptr<DeletingCallback>> callbacks;
  DeletingCallback& callback = *callbacks.emplace_back(std::make_unique<DeletingCallback>());
  callback.module = std::make_unique<TestModule>(&callback, [](const DEVICE_INFO& d) {
    return std::make_shared<FakeProperties>(d, FakeProperties::Mode::kSucceed, 0);
  });
  ASSERT_TRUE(callback.module->Start("cam", 80, "u", "p", &callback));
  ASSERT_TRUE(callback.deleted.Wait(30000));
  EXPECT_EQ(callback.Snapshot().reports, 1);
}

}  // namespace
}  // namespace korvela
