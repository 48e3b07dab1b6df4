#include "sim/hob_list_builder.h"

#include <cstddef>
#include <cstring>

#include "core/driver_guids.h"
#include "efi/efi_hob.h"

namespace sim {

namespace {

constexpr size_t kHeaderSize = sizeof(EFI_HOB_GENERIC_HEADER);

size_t AlignedLength(size_t length) { return (length + 7) & ~size_t{7}; }

}  // namespace

void HobListBuilder::Header(uint16_t type, uint16_t length) {
  EFI_HOB_GENERIC_HEADER header{type, length, 0};
  const size_t at = bytes_.size();
  bytes_.resize(at + kHeaderSize);
  std::memcpy(bytes_.data() + at, &header, kHeaderSize);
}

HobListBuilder &HobListBuilder::Generic(uint16_t type, const std::vector<uint8_t> &data) {
  const size_t length = AlignedLength(kHeaderSize + data.size());
  const size_t at = bytes_.size();
  Header(type, static_cast<uint16_t>(length));
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  bytes_.resize(at + length, 0);
  if (!end_fixed_) RecordEnd(bytes_.size());
  return *this;
}

HobListBuilder &HobListBuilder::Guid(const EFI_GUID &name, const std::vector<uint8_t> &data) {
  std::vector<uint8_t> body(sizeof(EFI_GUID));
  std::memcpy(body.data(), &name, sizeof(EFI_GUID));
  body.insert(body.end(), data.begin(), data.end());
  return Generic(EFI_HOB_TYPE_GUID_EXTENSION, body);
}

HobListBuilder &HobListBuilder::TraceHub(uint32_t base) {
  std::vector<uint8_t> data(24, 0);
  std::memcpy(data.data() + 20, &base, sizeof(base));
  return Guid(TraceHubInfoHobGuid, data);
}

HobListBuilder &HobListBuilder::Raw(uint16_t type, uint16_t length, const std::vector<uint8_t> &body) {
  Header(type, length);
  bytes_.insert(bytes_.end(), body.begin(), body.end());
  if (!end_fixed_) RecordEnd(bytes_.size());
  return *this;
}

HobListBuilder &HobListBuilder::End() {
  const size_t at = bytes_.size();
  Raw(EFI_HOB_TYPE_END_OF_HOB_LIST, kHeaderSize, {});
  if (!end_fixed_) RecordEnd(at);
  end_fixed_ = true;
  return *this;
}

HobListBuilder &HobListBuilder::Handoff() {
  if (bytes_.empty()) has_handoff_ = true;  // only a first hand-off HOB records the list's end
  Generic(EFI_HOB_TYPE_HANDOFF, std::vector<uint8_t>(sizeof(EFI_HOB_HANDOFF_INFO_TABLE) - kHeaderSize, 0));
  return *this;
}

HobListBuilder &HobListBuilder::HandoffEndAt(uint64_t offset) {
  RecordEnd(offset);
  end_fixed_ = true;
  return *this;
}

HobListBuilder &HobListBuilder::Bytes(const std::vector<uint8_t> &bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  if (!end_fixed_) RecordEnd(bytes_.size());
  return *this;
}

void HobListBuilder::RecordEnd(uint64_t offset) {
  if (!has_handoff_) return;
  std::memcpy(bytes_.data() + offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList), &offset, sizeof(offset));
}

}  // namespace sim
