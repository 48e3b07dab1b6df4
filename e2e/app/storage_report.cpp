#include "e2e/app/storage_report.h"

#include "e2e/app/app_state.h"
#include "e2e/app/protocol_handles.h"
#include "e2e/app/serial_report.h"

namespace {

constexpr EFI_GUID kBlockIoProtocolGuid = {
    0x964E5B21, 0x6459, 0x11D2, {0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B}};

}  // namespace

void ReportStorageBindings() {
  ReportValue("NvmePassThruHandles", CountProtocolHandles(&kNvmExpressPassThruProtocolGuid));
  ReportValue("BlockIoHandles", CountProtocolHandles(&kBlockIoProtocolGuid));
}
