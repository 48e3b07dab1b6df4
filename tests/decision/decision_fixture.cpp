#include "tests/decision/decision_fixture.h"

#include <sstream>

#include "tests/display/bmp_writer.h"

namespace decisiontest {

namespace {

const EFI_GUID *const kPictureGuids[] = {&NoticeImage1Guid, &NoticeImage2Guid, &NoticeImage3Guid,
                                         &NoticeImage4Guid, &NoticeImage5Guid, &NoticeImage6Guid};

}  // namespace

std::vector<uint8_t> SolidBmp(uint32_t width, uint32_t height, uint32_t rgb) {
  bmptest::Picture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.assign(static_cast<size_t>(width) * height, rgb);
  return bmptest::Encode(picture);
}

DecisionTest::DecisionTest() {
  // A processor that reports 2.112 GHz, with a counter that runs at it.
  sim::Hardware &hw = sim::CurrentHardware();
  hw.SetMaxBasicLeaf(0x16);
  hw.SetCpuidLeaf(0x15, CpuidResult{2, 176, 0, 0});
  hw.set_tsc_hz(2'112'000'000);

  ec_.Attach();
  cmos_.Attach();
  ec_.SetRegister(kEcLevelRegister, 100);  // a comfortable level unless a test says otherwise

  volume_ = &platform_.AddFirmwareVolume("pictures");
  for (unsigned mode = 1; mode <= 6; ++mode) {
    volume_->AddRawFile(*kPictureGuids[mode - 1], SolidBmp(kPictureWidth, kPictureHeight, PictureColour(mode)));
  }
}

void DecisionTest::Boot(bool with_storage) {
  if (with_storage) platform_.AddPciDevice("nvme0", 0x01, 0x08, 0x02);
  ASSERT_EQ(platform_.RunDriverEntry(), EFI_SUCCESS);
  if (with_storage) platform_.SignalEndOfDxe();
}

uint64_t DecisionTest::Trigger() {
  const size_t blocks_before = platform_.pool_usage().blocks;
  const uint64_t stall_before = platform_.total_stall_us();

  platform_.InstallTrigger();

  // The picture is released after the hold and the pixels inside ShowNotice:
  // a notification leaves the pool as it found it.
  EXPECT_EQ(platform_.pool_usage().blocks, blocks_before) << platform_.LeakReport();
  EXPECT_EQ(platform_.pool_usage(EfiBootServicesData).blocks, 0u) << platform_.LeakReport(EfiBootServicesData);
  EXPECT_EQ(gDriver.NoticeImageBuffer, nullptr);
  EXPECT_TRUE(platform_.faults().empty()) << platform_.faults().front();
  EXPECT_TRUE(platform_.unexpected_calls().empty()) << platform_.unexpected_calls().front();
  return platform_.total_stall_us() - stall_before;
}

unsigned DecisionTest::DrawnPicture() const {
  if (platform_.blt_calls().empty()) return 0;
  const sim::BltCall &blt = platform_.blt_calls().back();
  if (EFI_ERROR(blt.status)) return 0;
  const EFI_GRAPHICS_OUTPUT_BLT_PIXEL p =
      platform_.Pixel(static_cast<UINT32>(blt.destination_x), static_cast<UINT32>(blt.destination_y));
  const uint32_t rgb = static_cast<uint32_t>(p.Red) << 16 | static_cast<uint32_t>(p.Green) << 8 | p.Blue;
  for (unsigned mode = 1; mode <= 6; ++mode) {
    if (PictureColour(mode) == rgb) return mode;
  }
  return 99;  // something, but none of the pictures
}

std::string DecisionTest::ConsoleCalls() const {
  std::ostringstream out;
  for (const sim::ConsoleCall &c : platform_.console_calls()) {
    if (out.tellp() > 0) out << ' ';
    switch (c.kind) {
      case sim::ConsoleCall::Reset:
        out << "Reset";
        break;
      case sim::ConsoleCall::OutputString:
        out << "OutputString";
        break;
      case sim::ConsoleCall::SetAttribute:
        out << "SetAttribute(" << c.first << ")";
        break;
      case sim::ConsoleCall::ClearScreen:
        out << "ClearScreen";
        break;
      case sim::ConsoleCall::SetCursorPosition:
        out << "SetCursorPosition(" << c.first << "," << c.second << ")";
        break;
      case sim::ConsoleCall::EnableCursor:
        out << "EnableCursor(" << c.first << ")";
        break;
    }
  }
  return out.str();
}

std::vector<uint8_t> DecisionTest::EcRegistersAsked() const {
  std::vector<uint8_t> registers;
  for (const sim::PortAccess &a : sim::CurrentHardware().PortLogFor(sim::EmbeddedController::kDataPort)) {
    if (a.write) registers.push_back(a.value);
  }
  return registers;
}

unsigned DecisionTest::ShutdownCalls() const {
  unsigned n = 0;
  for (const sim::ResetCall &r : platform_.reset_calls()) {
    EXPECT_EQ(r.type, EfiResetShutdown);
    EXPECT_EQ(r.status, EFI_SUCCESS);
    EXPECT_EQ(r.data_size, 0u);
    ++n;
  }
  return n;
}

}  // namespace decisiontest
