// The platform's life cycle, failure injection, interaction log, pool and time.
#include "sim/platform.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/driver.h"
#include "efi/efi_hob.h"
#include "sim/driver_reload.h"
#include "sim/machine/hardware.h"

namespace sim {

namespace {

Platform *g_active = nullptr;

// Fresh pool memory is filled with this, so a driver reading memory it never wrote sees garbage.
constexpr uint8_t kFreshPoolByte = 0xAF;

}  // namespace

Platform::Platform() {
  if (g_active != nullptr) {
    std::fprintf(stderr, "sim::Platform: a platform is already active\n");
    std::abort();
  }
  g_active = this;

  system_table_.Hdr.Signature = EFI_SYSTEM_TABLE_SIGNATURE;
  system_table_.Hdr.Revision = (2u << 16) | 70u;
  system_table_.Hdr.HeaderSize = sizeof(EFI_SYSTEM_TABLE);
  system_table_.FirmwareVendor = const_cast<CHAR16 *>(u"Simulated Platform");
  system_table_.FirmwareRevision = 1;
  system_table_.BootServices = &boot_services_;
  system_table_.RuntimeServices = &runtime_services_;
  Reset();
}

Platform::~Platform() {
  ReleasePool();
  g_active = nullptr;
}

void Platform::ReleasePool() {
  for (auto &[buffer, block] : pool_) std::free(buffer);
  pool_.clear();
  pool_bytes_ = 0;
  peak_pool_bytes_ = 0;
}

void Platform::Reset() {
  ReleasePool();
  ResetHardware();
  ReloadDriver();

  failures_.clear();
  call_counts_.clear();
  stalls_.clear();
  total_stall_us_ = 0;
  console_calls_.clear();
  blt_calls_.clear();
  handles_.clear();
  registrations_.clear();
  connect_calls_.clear();
  events_.clear();
  current_tpl_ = TPL_APPLICATION;
  queue_counter_ = 0;
  pci_devices_.clear();
  volumes_.clear();
  variables_.clear();
  get_variable_calls_.clear();
  reset_calls_.clear();
  off_ = false;
  configuration_table_.clear();
  hob_lists_.clear();
  system_table_.ConfigurationTable = nullptr;
  system_table_.NumberOfTableEntries = 0;
  log_.clear();
  depth_ = 0;
  unexpected_calls_.clear();
  faults_.clear();
  on_call = nullptr;

  image_handle_ = CreateHandle("image");
  FillBootServices();
  FillRuntimeServices();
  FillConsole();
  FillGop();
}

Platform &Platform::Active() {
  if (g_active == nullptr) {
    std::fprintf(stderr, "sim::Platform: firmware called with no active platform\n");
    std::abort();
  }
  return *g_active;
}

Platform *Platform::ActiveOrNull() { return g_active; }

EFI_STATUS Platform::RunDriverEntry() { return DriverEntry(image_handle_, &system_table_); }

void Platform::BindDriver() { BindDriverTables(image_handle_, &system_table_); }

// --- injected failures -----------------------------------------------------------

void Platform::Inject(Failure failure) {
  if (!failure.answer()) {
    std::fprintf(stderr, "sim::Platform: the failure of %s says nothing it answers (Answers)\n",
                 failure.service().c_str());
    std::abort();
  }
  failures_.push_back(std::make_shared<const Failure>(std::move(failure)));
}

void Platform::ClearFailures(std::string_view service) {
  std::erase_if(failures_, [&](const auto &failure) { return failure->service() == service; });
}

unsigned Platform::CallCount(std::string_view service) const {
  auto it = call_counts_.find(service);
  return it == call_counts_.end() ? 0 : it->second;
}

// --- interaction log -------------------------------------------------------------

Platform::Call Platform::BeginCall(std::string_view name, std::vector<LogField> fields, const CallSubject &subject) {
  // Looked up by view: most calls are of a service already counted, and need no new string.
  auto counted = call_counts_.find(name);
  if (counted == call_counts_.end()) counted = call_counts_.emplace(std::string(name), 0).first;
  const unsigned number = ++counted->second;

  std::shared_ptr<const Failure> injected;
  for (auto it = failures_.rbegin(); it != failures_.rend(); ++it) {
    if ((*it)->service() == name && (*it)->Picks(number, subject)) {
      injected = *it;
      break;
    }
  }

  CallRecord record;
  record.time_ns = now_ns();
  record.name = std::string(name);
  record.fields = std::move(fields);
  record.depth = depth_;
  if (injected) record.fields.push_back({"Injected", "yes"});
  // ResetSystem returns here; a test may go on, and the log shows what ran on a machine that is off.
  if (off_) record.fields.push_back({"AfterReset", "yes"});
  log_.push_back(std::move(record));
  ++depth_;
  return Call(*this, log_.size() - 1, std::move(injected));
}

void Platform::Call::AddField(std::string key, std::string value) {
  platform_.log_[index_].fields.push_back({std::move(key), std::move(value)});
}

EFI_STATUS Platform::Call::Finish(EFI_STATUS status) {
  CallRecord &record = platform_.log_[index_];
  record.has_status = true;
  record.status = status;
  --platform_.depth_;
  if (platform_.on_call) platform_.on_call(record);
  return status;
}

void Platform::Call::FinishVoid() {
  --platform_.depth_;
  if (platform_.on_call) platform_.on_call(platform_.log_[index_]);
}

std::vector<CallRecord> Platform::LogOf(std::string_view name) const {
  std::vector<CallRecord> out;
  for (const CallRecord &r : log_) {
    if (r.name == name) out.push_back(r);
  }
  return out;
}

void Platform::Unexpected(std::string_view service) {
  unexpected_calls_.emplace_back(service);
  BeginCall(service, {{"Unexpected", "yes"}}).Finish(EFI_UNSUPPORTED);
}

void Platform::Fault(std::string description) { faults_.push_back(std::move(description)); }

// --- pool ---------------------------------------------------------------------------

namespace {

bool IsPoolType(EFI_MEMORY_TYPE type) {
  // Reserved, the unusable and the persistent types cannot be pool.
  return type >= EfiLoaderCode && type <= EfiRuntimeServicesData;
}

}  // namespace

void *Platform::AllocateInternal(EFI_MEMORY_TYPE type, size_t size, std::string origin) {
  void *buffer = std::malloc(size == 0 ? 1 : size);
  if (buffer == nullptr) return nullptr;
  std::memset(buffer, kFreshPoolByte, size);
  pool_[buffer] = PoolBlock{type, size, 0, std::move(origin)};
  pool_bytes_ += size;
  if (pool_bytes_ > peak_pool_bytes_) peak_pool_bytes_ = pool_bytes_;
  return buffer;
}

void *Platform::HandOutPoolBlock(const std::vector<uint8_t> &bytes, std::string origin) {
  void *memory = AllocateInternal(EfiBootServicesData, bytes.size(), std::move(origin));
  if (memory != nullptr && !bytes.empty()) std::memcpy(memory, bytes.data(), bytes.size());
  return memory;
}

EFI_STATUS Platform::DoAllocatePool(EFI_MEMORY_TYPE type, UINTN size, void **buffer, unsigned call_number) {
  if (buffer == nullptr) {
    Fault("AllocatePool with a null Buffer slot");
    return EFI_INVALID_PARAMETER;
  }
  if (!IsPoolType(type)) {
    Fault("AllocatePool of pool type " + DecText(type));
    return EFI_INVALID_PARAMETER;
  }
  void *memory = AllocateInternal(type, size, "AllocatePool");
  if (memory == nullptr) return EFI_OUT_OF_RESOURCES;
  pool_[memory].call_number = call_number;
  *buffer = memory;
  return EFI_SUCCESS;
}

EFI_STATUS Platform::DoFreePool(void *buffer) {
  auto it = pool_.find(buffer);
  if (it == pool_.end()) {
    Fault("FreePool of " + HexText(reinterpret_cast<uintptr_t>(buffer)) + ", not an allocated pool block");
    return EFI_INVALID_PARAMETER;
  }
  pool_bytes_ -= it->second.size;
  std::free(buffer);
  pool_.erase(it);
  return EFI_SUCCESS;
}

PoolUsage Platform::pool_usage(EFI_MEMORY_TYPE type) const {
  PoolUsage usage;
  for (const auto &[buffer, block] : pool_) {
    if (block.type != type) continue;
    usage.bytes += block.size;
    ++usage.blocks;
  }
  return usage;
}

PoolUsage Platform::pool_usage() const { return PoolUsage{pool_bytes_, pool_.size()}; }

namespace {

std::string LeakLine(const void *buffer, const PoolBlock &block) {
  std::string line = "pool type " + DecText(block.type) + ", " + DecText(block.size) + " bytes at " +
                     HexText(reinterpret_cast<uintptr_t>(buffer)) + " from " + block.origin;
  if (block.call_number != 0) line += " call " + DecText(block.call_number);
  return line + "\n";
}

}  // namespace

std::string Platform::LeakReport() const {
  std::string report;
  for (const auto &[buffer, block] : pool_) report += LeakLine(buffer, block);
  return report;
}

std::string Platform::LeakReport(EFI_MEMORY_TYPE type) const {
  std::string report;
  for (const auto &[buffer, block] : pool_) {
    if (block.type == type) report += LeakLine(buffer, block);
  }
  return report;
}

// --- virtual time --------------------------------------------------------------------

uint64_t Platform::now_ns() const { return CurrentHardware().now_ns(); }

EFI_STATUS Platform::DoStall(UINTN microseconds) {
  stalls_.push_back({microseconds, now_ns()});
  total_stall_us_ += microseconds;
  CurrentHardware().AdvanceNs(static_cast<uint64_t>(microseconds) * 1000u);
  return EFI_SUCCESS;
}

// --- configuration table and HOB list -------------------------------------------------

void Platform::AddConfigurationTable(const EFI_GUID &guid, void *table) {
  configuration_table_.push_back(EFI_CONFIGURATION_TABLE{guid, table});
  system_table_.ConfigurationTable = configuration_table_.data();
  system_table_.NumberOfTableEntries = configuration_table_.size();
}

void *Platform::InstallHobList(std::vector<uint8_t> bytes) {
  // Exactly sized, so a walk past the list's last byte is an out-of-bounds read the sanitizer sees.
  auto copy = std::make_unique<uint8_t[]>(bytes.size() == 0 ? 1 : bytes.size());
  if (!bytes.empty()) std::memcpy(copy.get(), bytes.data(), bytes.size());  // an empty list has no data pointer
  void *list = copy.get();
  EFI_HOB_GENERIC_HEADER first{};
  if (bytes.size() >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) std::memcpy(&first, bytes.data(), sizeof(first));
  if (first.HobType == EFI_HOB_TYPE_HANDOFF && first.HobLength >= sizeof(EFI_HOB_HANDOFF_INFO_TABLE)) {
    uint8_t *end_field = copy.get() + offsetof(EFI_HOB_HANDOFF_INFO_TABLE, EfiEndOfHobList);
    uint64_t end = 0;
    std::memcpy(&end, end_field, sizeof(end));
    end += reinterpret_cast<uintptr_t>(list);
    std::memcpy(end_field, &end, sizeof(end));
  }
  hob_lists_.push_back(std::move(copy));
  AddConfigurationTable(EFI_HOB_LIST_GUID, list);
  return list;
}

}  // namespace sim
