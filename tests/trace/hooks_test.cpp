// The header's hook table and the output hooks' stores.
#include "trace/trace_hooks.h"

#include <functional>
#include <string>

#include "trace/trace_writer.h"
#include "trace_test_support.h"

namespace {

using sim::MmioStore;
using trace_test::At;
using trace_test::kChannel;
using trace_test::Stores;
using trace_test::TraceTest;

TEST_F(TraceTest, HookTableInitFillsEverySlotButWriterAndVersion) {
  TraceHeader header{};
  header.Version = 0x1234;
  header.Writer = TraceScatterWrite;
  TraceHookTableInit(&header, 0xFFFF);

  EXPECT_EQ(header.Version, 0x1234u);
  EXPECT_EQ(header.Writer, &TraceScatterWrite);
  EXPECT_EQ(header.InitHandle, &TraceHandleInitHook);
  EXPECT_EQ(header.ReleaseHandle, &TraceHandleReleaseHook);
  EXPECT_EQ(header.Write32Stamped, &TraceWrite32Stamped);
  EXPECT_EQ(header.Write32MarkStamped, &TraceWrite32MarkStamped);
  EXPECT_EQ(header.Write64MarkStamped, &TraceWrite64MarkStamped);
  EXPECT_EQ(header.Write8, &TraceWrite8);
  EXPECT_EQ(header.Write16, &TraceWrite16);
  EXPECT_EQ(header.Write32, &TraceWrite32);
  EXPECT_EQ(header.Write64, &TraceWrite64);
  EXPECT_EQ(header.WriteEndFlag, &TraceWriteEndFlag);
}

TEST_F(TraceTest, InitHookBindsTheDriverChannelWithoutStoring) {
  TraceHandle handle{};
  TraceHandleInitHook(&handle);
  EXPECT_EQ(handle.Master, 72u);
  EXPECT_EQ(handle.Channel, 14u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(handle.ChannelMmio), kChannel);
  EXPECT_TRUE(Stores().empty());
}

struct HookCase {
  std::string name;
  std::function<void(TraceHandle *)> call;
  MmioStore expected;
};

std::vector<HookCase> AllOutputHooks() {
  return {
      {"Write32Stamped", [](TraceHandle *h) { TraceWrite32Stamped(h, 0xDEADBEEF); }, At(0x10, 32, 0xDEADBEEF)},
      {"Write32MarkStamped", [](TraceHandle *h) { TraceWrite32MarkStamped(h, 0x89ABCDEF); }, At(0x18, 32, 0x89ABCDEF)},
      {"Write64MarkStamped", [](TraceHandle *h) { TraceWrite64MarkStamped(h, 0x0123456789ABCDEFull); },
       At(0x18, 64, 0x0123456789ABCDEFull)},
      {"Write8", [](TraceHandle *h) { TraceWrite8(h, 0xA5); }, At(0x00, 8, 0xA5)},
      {"Write16", [](TraceHandle *h) { TraceWrite16(h, 0xBEEF); }, At(0x00, 16, 0xBEEF)},
      {"Write32", [](TraceHandle *h) { TraceWrite32(h, 0xFEEDF00D); }, At(0x00, 32, 0xFEEDF00D)},
      {"Write64", [](TraceHandle *h) { TraceWrite64(h, 0xFFFFFFFF00000001ull); }, At(0x00, 64, 0xFFFFFFFF00000001ull)},
      {"WriteEndFlag", [](TraceHandle *h) { TraceWriteEndFlag(h); }, At(0x30, 32, 0)},
  };
}

TEST_F(TraceTest, EachOutputHookIsOneStoreOfItsWidthToItsRegister) {
  TraceHandle *handle = BoundHandle();
  for (const HookCase &c : AllOutputHooks()) {
    SCOPED_TRACE(c.name);
    sim::CurrentHardware().ClearMmioLog();
    c.call(handle);
    EXPECT_EQ(Stores(), std::vector<MmioStore>{c.expected});
  }
}

TEST_F(TraceTest, HandleBoundWithoutTraceHubNeverStores) {
  gDriver.TraceHubBase = 0;
  TraceHandle *handle = BoundHandle();
  EXPECT_EQ(handle->ChannelMmio, nullptr);
  EXPECT_EQ(handle->Master, 72u);
  EXPECT_EQ(handle->Channel, 14u);

  // A base that turns up later does not move the handle onto a channel.
  gDriver.TraceHubBase = trace_test::kHubBase;
  for (const HookCase &c : AllOutputHooks()) c.call(handle);
  EXPECT_TRUE(Stores().empty());
}

TEST_F(TraceTest, BoundHandleKeepsItsChannelWhenTheBaseChanges) {
  TraceHandle *handle = BoundHandle();
  gDriver.TraceHubBase = 0;
  TraceWrite16(handle, 0x1234);
  gDriver.TraceHubBase = 0x2000;
  TraceWriteEndFlag(handle);
  EXPECT_EQ(Stores(), (std::vector<MmioStore>{At(0x00, 16, 0x1234), At(0x30, 32, 0)}));
}

TEST_F(TraceTest, UnboundHandleNeverStoresAtTheBottomOfMemory) {
  // A handle made through the default header before that header had hooks
  // stays unbound; filling the header afterwards must not give it stores at
  // address 0x00-0x30.
  TraceHandle handle{};
  TraceHandleInit(nullptr, &handle, nullptr, 0);
  EXPECT_EQ(handle.ChannelMmio, nullptr);
  TraceHeaderInit(nullptr, TraceHookTableInit, 0);
  for (const HookCase &c : AllOutputHooks()) c.call(&handle);
  EXPECT_TRUE(Stores().empty());
}

}  // namespace
