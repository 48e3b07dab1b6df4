// A freshly loaded driver on a fresh simulated platform, with an embedded
// controller and the extended CMOS bank on their ports, six solid-colour
// notice pictures in a firmware volume, and a timestamp counter whose
// frequency the processor reports (so the controller's polling spins on the
// counter and every Stall the platform sees is the decision's own).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/driver_state.h"
#include "core/driver_guids.h"
#include "core/notice_decision.h"
#include "display/notice_image_lookup.h"
#include "sim/cmos.h"
#include "sim/embedded_controller.h"
#include "sim/platform.h"

namespace decisiontest {

// The simulated controller is wired with the driver's own register numbers
// (kEcStateRegister, kEcLevelRegister, kEcFlagRegister in
// core/notice_decision.h); what the tests expect the driver to ask for or
// write stays literal: 0x80, 0x93, 0x0D, and the CMOS marker byte below.
constexpr uint8_t kMarkerIndex = 0x30;
constexpr uint32_t kPictureWidth = 8;
constexpr uint32_t kPictureHeight = 4;

// The solid colour of notice picture `mode` (1-6), as 0xRRGGBB.
inline uint32_t PictureColour(unsigned mode) { return 0x102030u * mode + 0x0F0000u; }

// An uncompressed 24-bit BMP of one colour.
std::vector<uint8_t> SolidBmp(uint32_t width, uint32_t height, uint32_t rgb);

class DecisionTest : public ::testing::Test {
 protected:
  DecisionTest();

  sim::Platform platform_;
  sim::EmbeddedController ec_;
  sim::ExtendedCmos cmos_;
  sim::FirmwareVolume *volume_ = nullptr;

  // Runs DriverEntry; with storage, adds an NVM Express controller first and
  // signals end of DXE afterwards.
  void Boot(bool with_storage);
  // Installs the trigger protocol; returns the time the notification took in
  // Stall microseconds, and checks what each notification must leave behind.
  uint64_t Trigger();

  // Which picture the last Blt drew (its colour read back from the screen), 0 when none.
  unsigned DrawnPicture() const;
  // The console calls of the notifications so far, as text: "EnableCursor(0) ClearScreen ...".
  std::string ConsoleCalls() const;
  // Register numbers written to the controller's data port, in order.
  std::vector<uint8_t> EcRegistersAsked() const;
  unsigned ShutdownCalls() const;
};

}  // namespace decisiontest
