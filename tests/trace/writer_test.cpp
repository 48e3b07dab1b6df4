// The scatter writer's exact store sequences.
#include "trace/trace_writer.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crc_reference.h"
#include "trace/trace_state.h"
#include "trace_test_support.h"

namespace {

using sim::MmioStore;
using trace_test::At;
using trace_test::Stores;
using trace_test::TraceTest;

// A scatter program as the writer reads it: 4-byte entries and a one-byte terminator.
std::vector<uint8_t> Program(std::initializer_list<TraceScatterEntry> entries) {
  std::vector<uint8_t> bytes;
  for (const TraceScatterEntry &e : entries) {
    bytes.push_back(e.Opcode);
    bytes.push_back(e.Offset);
    bytes.push_back(static_cast<uint8_t>(e.Count));
    bytes.push_back(static_cast<uint8_t>(e.Count >> 8));
  }
  bytes.push_back(kTraceScatterEnd);
  return bytes;
}

class Writer : public TraceTest {
 protected:
  // Sends through the header's Writer slot, with the program copied to the
  // exact size it needs (and at an odd address when asked), so that reading
  // past the terminator's opcode byte is caught.
  void Send(TraceHandle *handle, const std::vector<uint8_t> &program, const void *descriptor,
            size_t program_misalign = 0) {
    auto storage = std::make_unique<uint8_t[]>(program.size() + program_misalign);
    std::memcpy(storage.get() + program_misalign, program.data(), program.size());
    handle->Header->Writer(handle, reinterpret_cast<const TraceScatterEntry *>(storage.get() + program_misalign),
                           descriptor);
  }
};

TEST_F(Writer, TerminatorOnlySendsHeaderWordAndEndFlag) {
  const uint32_t descriptor = 0x01020304;
  Send(BoundHandle(), Program({}), &descriptor);
  EXPECT_EQ(Stores(), (std::vector<MmioStore>{At(0x10, 32, 0x01020304), At(0x30, 32, 0)}));
}

TEST_F(Writer, ChecksumExampleOverTheNineDigits) {
  ASSERT_EQ(gTrace.CrcTable[1], 0u) << "the table must be built on first use, without TraceSetup";
  const char descriptor[] = "123456789";
  Send(BoundHandle(kTraceTagChecksum), Program({{kTraceScatter8, 4, 5}}), descriptor);
  EXPECT_EQ(Stores(),
            (std::vector<MmioStore>{At(0x10, 32, 0x34333231), At(0x00, 8, '5'), At(0x00, 8, '6'), At(0x00, 8, '7'),
                                    At(0x00, 8, '8'), At(0x00, 8, '9'), At(0x00, 32, 0xE3069283), At(0x30, 32, 0)}));
}

TEST_F(Writer, HandleTagNotDescriptorDecidesTheChecksum) {
  const uint32_t with_bit = kTraceTagChecksum;
  Send(BoundHandle(0), Program({}), &with_bit);
  EXPECT_EQ(Stores(), (std::vector<MmioStore>{At(0x10, 32, with_bit), At(0x30, 32, 0)}));
}

TEST_F(Writer, FixedWidthOpcodesReadUnalignedLittleEndianFields) {
  uint8_t descriptor[40];
  for (size_t i = 0; i < sizeof(descriptor); ++i) descriptor[i] = static_cast<uint8_t>(0x10 + i);
  Send(BoundHandle(), Program({{kTraceScatter16, 1, 2}, {kTraceScatter32, 7, 2}, {kTraceScatter64, 3, 1}}), descriptor,
       1);
  EXPECT_EQ(Stores(), (std::vector<MmioStore>{At(0x10, 32, 0x13121110), At(0x00, 16, 0x1211), At(0x00, 16, 0x1413),
                                              At(0x00, 32, 0x1A191817), At(0x00, 32, 0x1E1D1C1B),
                                              At(0x00, 64, 0x1A19181716151413ull), At(0x30, 32, 0)}));
}

TEST_F(Writer, FixedWidthCountZeroSendsNothing) {
  const uint8_t descriptor[16] = {};
  Send(BoundHandle(), Program({{kTraceScatter32, 4, 0}}), descriptor);
  EXPECT_EQ(Stores().size(), 2u);
}

struct BlobCase {
  uint16_t length;
  std::vector<unsigned> widths;
};

class Blob : public Writer, public ::testing::WithParamInterface<BlobCase> {};

TEST_P(Blob, SplitsIntoWideStoresThenTail) {
  const BlobCase &c = GetParam();
  std::vector<uint8_t> data(c.length + 1);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(0xA0 + i);
  // The 64-bit pointer lies at an odd offset of the descriptor.
  uint8_t descriptor[16] = {0xAA, 0xBB, 0xCC, 0xDD};
  const uint8_t *pointer = data.data() + 1;  // and the data itself is unaligned
  std::memcpy(descriptor + 5, &pointer, sizeof(pointer));

  Send(BoundHandle(kTraceTagChecksum), Program({{kTraceScatterBlob, 5, c.length}}), descriptor);

  std::vector<MmioStore> expected{At(0x10, 32, 0xDDCCBBAA)};
  std::vector<uint8_t> sent{0xAA, 0xBB, 0xCC, 0xDD};
  size_t at = 1;
  for (unsigned width : c.widths) {
    uint64_t value = 0;
    std::memcpy(&value, data.data() + at, width / 8);
    expected.push_back(At(0x00, width, value));
    trace_test::AppendLittleEndian(sent, value, width);
    at += width / 8;
  }
  ASSERT_EQ(at - 1, c.length);
  expected.push_back(At(0x00, 32, trace_test::ReferenceCrc32c(sent)));
  expected.push_back(At(0x30, 32, 0));
  EXPECT_EQ(Stores(), expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, Blob,
                         ::testing::Values(BlobCase{13, {64, 32, 8}}, BlobCase{7, {32, 16, 8}}, BlobCase{0, {}},
                                           BlobCase{1, {8}}, BlobCase{2, {16}}, BlobCase{6, {32, 16}},
                                           BlobCase{16, {64, 64}}, BlobCase{23, {64, 64, 32, 16, 8}}),
                         [](const ::testing::TestParamInfo<BlobCase> &info) {
                           return std::to_string(info.param.length) + "Bytes";
                         });

TEST_F(Writer, UnknownOpcodeIsSkippedAndTheNextEntryRuns) {
  const char descriptor[] = "123456789";
  Send(BoundHandle(kTraceTagChecksum), Program({{3, 4, 5}, {kTraceScatter8, 4, 5}, {0, 0, 1}, {0xFE, 0, 0xFFFF}}),
       descriptor);
  // Same stores, and so the same checksum, as the program without the unknown entries.
  EXPECT_EQ(Stores(),
            (std::vector<MmioStore>{At(0x10, 32, 0x34333231), At(0x00, 8, '5'), At(0x00, 8, '6'), At(0x00, 8, '7'),
                                    At(0x00, 8, '8'), At(0x00, 8, '9'), At(0x00, 32, 0xE3069283), At(0x30, 32, 0)}));
}

TEST_F(Writer, HandleWithoutTraceHubSendsNothing) {
  gDriver.TraceHubBase = 0;
  const char descriptor[] = "123456789";
  Send(BoundHandle(kTraceTagChecksum), Program({{kTraceScatter8, 4, 5}}), descriptor);
  EXPECT_TRUE(Stores().empty());
}

}  // namespace
