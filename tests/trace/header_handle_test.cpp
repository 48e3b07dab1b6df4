// Making trace headers and handles, and the origin rules of the handle's Tag.
#include <cstring>
#include <vector>

#include "trace/trace_state.h"
#include "trace/trace_writer.h"
#include "trace_test_support.h"

namespace {

using trace_test::kChannel;
using trace_test::TraceTest;

std::vector<TraceHandle *> g_init_calls;
std::vector<std::pair<TraceHeader *, uint64_t>> g_filler_calls;

void EFIAPI RecordInit(TraceHandle *handle) { g_init_calls.push_back(handle); }
void EFIAPI RecordFiller(TraceHeader *header, UINT64 argument) {
  g_filler_calls.push_back({header, argument});
  header->InitHandle = RecordInit;
}

class TraceRecords : public TraceTest {
 protected:
  void SetUp() override {
    TraceTest::SetUp();
    g_init_calls.clear();
    g_filler_calls.clear();
  }
};

TEST_F(TraceRecords, HeaderInitClearsThenSetsVersionWriterAndCallsTheFiller) {
  TraceHeader header;
  std::memset(static_cast<void *>(&header), 0xCC, sizeof(header));
  TraceHeaderInit(&header, RecordFiller, 0xABCDEF0123456789ull);

  EXPECT_EQ(header.Version, 0x10000u);
  EXPECT_EQ(header.Writer, &TraceScatterWrite);
  EXPECT_EQ(header.ReleaseHandle, nullptr);
  EXPECT_EQ(header.Write8, nullptr);
  EXPECT_EQ(header.WriteEndFlag, nullptr);
  ASSERT_EQ(g_filler_calls.size(), 1u);
  EXPECT_EQ(g_filler_calls[0].first, &header);
  EXPECT_EQ(g_filler_calls[0].second, 0xABCDEF0123456789ull);
}

TEST_F(TraceRecords, HeaderInitWithoutHeaderTargetsTheDefaultHeader) {
  TraceHeaderInit(nullptr, nullptr, 0);
  EXPECT_EQ(gTrace.DefaultTraceHeader.Version, 0x10000u);
  EXPECT_EQ(gTrace.DefaultTraceHeader.Writer, &TraceScatterWrite);
  EXPECT_EQ(gTrace.DefaultTraceHeader.InitHandle, nullptr);
}

TEST_F(TraceRecords, HandleInitWithoutStorageDoesNothing) {
  TraceHeaderInit(&header_, RecordFiller, 0);
  EXPECT_EQ(TraceHandleInit(&header_, nullptr, nullptr, 1), nullptr);
  EXPECT_TRUE(g_init_calls.empty());
}

TEST_F(TraceRecords, HandleInitClearsStorageAndCallsInitHookOnce) {
  TraceHeaderInit(&header_, RecordFiller, 0);
  TraceHandle handle;
  std::memset(static_cast<void *>(&handle), 0xCC, sizeof(handle));

  EXPECT_EQ(TraceHandleInit(&header_, &handle, nullptr, 0), &handle);
  EXPECT_EQ(handle.Header, &header_);
  EXPECT_EQ(handle.Flags, 0u);
  EXPECT_EQ(handle.Tag, 0u);
  EXPECT_EQ(handle.Master, 0u);
  EXPECT_EQ(handle.ChannelMmio, nullptr);
  const uint8_t zero[16] = {};
  EXPECT_EQ(std::memcmp(&handle.OriginGuid, zero, 16), 0);
  EXPECT_EQ(g_init_calls, std::vector<TraceHandle *>{&handle});
}

TEST_F(TraceRecords, FromPoolFlagIsBitZeroOfAnyNonZeroArgument) {
  TraceHandle handle{};
  TraceHandleInit(&header_, &handle, nullptr, 0x80000000u);
  EXPECT_EQ(handle.Flags, 1u);
  TraceHandleInit(&header_, &handle, nullptr, 0);
  EXPECT_EQ(handle.Flags, 0u);
}

TEST_F(TraceRecords, HandleWithoutHeaderUsesTheUninitialisedDefaultHeaderAndStaysUnbound) {
  TraceHandle handle{};
  EXPECT_EQ(TraceHandleInit(nullptr, &handle, nullptr, 0), &handle);
  EXPECT_EQ(handle.Header, &gTrace.DefaultTraceHeader);
  EXPECT_EQ(handle.Master, 0u);
  EXPECT_EQ(handle.ChannelMmio, nullptr);
}

TEST_F(TraceRecords, HandleWithoutHeaderIsBoundOnceTheDefaultHeaderHasHooks) {
  TraceHeaderInit(nullptr, TraceHookTableInit, 0);
  TraceHandle handle{};
  TraceHandleInit(nullptr, &handle, nullptr, 0);
  EXPECT_EQ(handle.Header, &gTrace.DefaultTraceHeader);
  EXPECT_EQ(handle.Master, 72u);
  EXPECT_EQ(handle.Channel, 14u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(handle.ChannelMmio), kChannel);
  EXPECT_TRUE(trace_test::Stores().empty());
}

struct OriginCase {
  const char *name;
  uint8_t byte8;
  uint16_t unit;
  uint32_t tag;
  bool guid_kept;
};

class Origins : public TraceTest, public ::testing::WithParamInterface<OriginCase> {};

TEST_P(Origins, SetTagAndOriginGuid) {
  const OriginCase &c = GetParam();
  TraceOrigin origin{};
  const uint8_t guid[16] = {0x11,    0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
                            c.byte8, 0x9A, 0xBC, 0xDE, 0xF0, 0x12, 0x34, 0x56};
  std::memcpy(&origin.OriginGuid, guid, 16);
  origin.Unit = c.unit;

  TraceHandle handle{};
  TraceHeaderInit(&header_, TraceHookTableInit, 0);
  TraceHandleInit(&header_, &handle, &origin, 1);

  EXPECT_EQ(handle.Tag, c.tag);
  EXPECT_EQ(handle.Tag & kTraceTagChecksum, 0u);
  const uint8_t zero[16] = {};
  EXPECT_EQ(std::memcmp(&handle.OriginGuid, c.guid_kept ? guid : zero, 16), 0);
  // The origin does not disturb the channel binding.
  EXPECT_EQ(reinterpret_cast<uintptr_t>(handle.ChannelMmio), kChannel);
}

INSTANTIATE_TEST_SUITE_P(Tag, Origins,
                         ::testing::Values(OriginCase{"FullGuid", 0x80, 0x1234, 0xA34000, true},
                                           OriginCase{"FullGuidAllUnitBits", 0xFF, 0xFFFF, 0xFFF000, true},
                                           OriginCase{"FullGuidUnitZero", 0xC5, 0, 0x800000, true},
                                           OriginCase{"ShortOrigin", 0x05, 0x13, 0x53000, false},
                                           OriginCase{"ShortOriginWidest", 0x7F, 0xFFFF, 0x7FF000, false},
                                           OriginCase{"ShortOriginZero", 0x00, 0xFFF0, 0, false}),
                         [](const ::testing::TestParamInfo<OriginCase> &info) { return std::string(info.param.name); });

}  // namespace
