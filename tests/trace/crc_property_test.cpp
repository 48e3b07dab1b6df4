// For random descriptors and programs with the checksum on, the checksum word
// is the CRC-32C of exactly the bytes that reached the channel, and those
// bytes are the fields the program selects.
#include <cstring>
#include <random>
#include <vector>

#include "crc_reference.h"
#include "trace/trace_writer.h"
#include "trace_test_support.h"

namespace {

using trace_test::kChannel;
using trace_test::Stores;
using trace_test::TraceTest;

constexpr size_t kDescriptorSize = 256 + 8 * 8;  // the farthest field: offset 255, eight 64-bit items
constexpr size_t kBlobSize = 300;

struct RandomMessage {
  std::vector<uint8_t> descriptor = std::vector<uint8_t>(kDescriptorSize);
  std::vector<uint8_t> blob = std::vector<uint8_t>(kBlobSize);
  std::vector<TraceScatterEntry> entries;
  std::vector<uint8_t> program;
};

RandomMessage MakeMessage(std::mt19937 &rng) {
  RandomMessage m;
  std::uniform_int_distribution<int> byte(0, 255);
  for (auto &b : m.descriptor) b = static_cast<uint8_t>(byte(rng));
  for (auto &b : m.blob) b = static_cast<uint8_t>(byte(rng));

  static const uint8_t kOpcodes[] = {1, 2, 4, 8, 16, 0, 3, 5, 32, 0xFE};
  std::uniform_int_distribution<size_t> pick(0, sizeof(kOpcodes) - 1);
  std::uniform_int_distribution<int> entries(0, 8), items(0, 8), blob_length(0, kBlobSize);
  // All blob entries share one pointer field (at any alignment), so no field
  // overwrites part of another.
  const uint8_t blob_offset = static_cast<uint8_t>(byte(rng));
  const uint8_t *blob = m.blob.data();
  std::memcpy(&m.descriptor[blob_offset], &blob, sizeof(blob));
  for (int n = entries(rng); n > 0; --n) {
    TraceScatterEntry e{kOpcodes[pick(rng)], static_cast<uint8_t>(byte(rng)), 0};
    if (e.Opcode == kTraceScatterBlob) e.Offset = blob_offset;
    e.Count = static_cast<uint16_t>(e.Opcode == kTraceScatterBlob ? blob_length(rng) : items(rng));
    m.entries.push_back(e);
  }
  for (const TraceScatterEntry &e : m.entries) {
    const uint8_t *raw = reinterpret_cast<const uint8_t *>(&e);
    m.program.insert(m.program.end(), raw, raw + sizeof(e));
  }
  m.program.push_back(kTraceScatterEnd);
  return m;
}

// The message header followed by every selected field, in program order.
std::vector<uint8_t> SelectedBytes(const RandomMessage &m) {
  std::vector<uint8_t> out(m.descriptor.begin(), m.descriptor.begin() + 4);
  for (const TraceScatterEntry &e : m.entries) {
    const uint8_t *field = &m.descriptor[e.Offset];
    if (e.Opcode == 1 || e.Opcode == 2 || e.Opcode == 4 || e.Opcode == 8) {
      out.insert(out.end(), field, field + size_t{e.Opcode} * e.Count);
    } else if (e.Opcode == kTraceScatterBlob) {
      out.insert(out.end(), m.blob.begin(), m.blob.begin() + e.Count);
    }
  }
  return out;
}

TEST_F(TraceTest, ChecksumWordIsCrc32cOfEverythingSent) {
  std::mt19937 rng(20261208);
  for (int round = 0; round < 500; ++round) {
    SCOPED_TRACE(round);
    sim::CurrentHardware().ClearMmioLog();
    RandomMessage m = MakeMessage(rng);
    TraceHandle *handle = BoundHandle(kTraceTagChecksum);
    TraceScatterWrite(handle, reinterpret_cast<const TraceScatterEntry *>(m.program.data()), m.descriptor.data());

    const auto &stores = Stores();
    ASSERT_GE(stores.size(), 3u);
    EXPECT_EQ(stores.front().address, kChannel + 0x10);
    EXPECT_EQ(stores.front().width_bits, 32u);
    EXPECT_EQ(stores.back(), (sim::MmioStore{kChannel + 0x30, 32, 0}));

    std::vector<uint8_t> seen;
    trace_test::AppendLittleEndian(seen, stores.front().value, 32);
    for (size_t i = 1; i + 2 < stores.size(); ++i) {
      EXPECT_EQ(stores[i].address, kChannel);
      trace_test::AppendLittleEndian(seen, stores[i].value, stores[i].width_bits);
    }
    const sim::MmioStore &checksum = stores[stores.size() - 2];
    EXPECT_EQ(checksum.address, kChannel);
    EXPECT_EQ(checksum.width_bits, 32u);
    EXPECT_EQ(checksum.value, trace_test::ReferenceCrc32c(seen));
    EXPECT_EQ(seen, SelectedBytes(m));
  }
}

}  // namespace
