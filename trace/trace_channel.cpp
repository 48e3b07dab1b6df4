#include "trace/trace_channel.h"

#include "base/driver_state.h"

namespace {
constexpr UINT32 kChannelsPerMaster = 128;
constexpr UINT32 kFirstMasterBlock = 16 * kChannelsPerMaster;  // masters are numbered from 16
constexpr UINT64 kChannelBlockSize = 64;
}  // namespace

EFI_STATUS TraceChannelAddress(UINT32 Master, UINT32 Channel, UINT64 *Address) {
  if (Address == nullptr) return EFI_INVALID_PARAMETER;

  // The block number wraps in 32 bits; the byte offset and the sum are 64-bit.
  UINT32 block = Master * kChannelsPerMaster - kFirstMasterBlock + Channel;
  *Address = static_cast<UINT64>(block) * kChannelBlockSize + static_cast<UINT64>(gDriver.TraceHubBase);
  return EFI_SUCCESS;
}

void *TraceChannelMmio(UINT32 Master, UINT32 Channel) {
  UINT64 address = 0;
  if (EFI_ERROR(TraceChannelAddress(Master, Channel, &address))) return nullptr;
  return reinterpret_cast<void *>(static_cast<UINTN>(address));
}
