// The simulated firmware platform the host builds run the driver on.
//
// A Platform fills real EFI_SYSTEM_TABLE, EFI_BOOT_SERVICES,
// EFI_RUNTIME_SERVICES and protocol tables (the declarations in
// efi/) with EFIAPI thunks that forward to the one active Platform,
// so a test calls exactly what the driver image calls. Services the driver has
// no business calling are filled too: they answer EFI_UNSUPPORTED and are
// counted as unexpected. Calls that real firmware would reject or crash on
// (freeing an unknown buffer, a null out-pointer, ...) are answered the way
// firmware answers and listed as faults.
//
// One Platform is active at a time. Constructing one makes a fresh simulated
// machine (sim::ResetHardware) and a freshly loaded driver (sim::ReloadDriver);
// destroying it releases every pool block still allocated.
//
// Reset() returns a platform to what construction gives, without building a
// new one (a fuzzer runs every input on one platform): every pool block is
// released; records and counters (log, console, Blt, stall, connect, variable
// and reset calls, faults, unexpected calls) and injected failures are
// cleared; handles, events, registrations, PCI devices, firmware volumes,
// variables, configuration-table entries and HOB lists are gone; the tables
// are filled anew, the console is back on the system table and the graphics
// output on its handle with the default screen, cleared. The machine behind
// the hardware seam is replaced (port devices such as the embedded controller
// are left detached and must be attached anew), and the driver is reloaded.
// Pointers and handles from before the reset are invalid.
//
// Typical use:
//   sim::Platform platform;
//   platform.AddPciDevice("nvme0", 0x01, 0x08, 0x02);
//   platform.InstallHobList(sim::HobListBuilder().TraceHub(0xFE000000).End().bytes());
//   platform.RunDriverEntry();
//   platform.SignalEndOfDxe();
//   platform.InstallTrigger();
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "efi/efi.h"
#include "sim/call_log.h"
#include "sim/failure.h"

namespace sim {

class Platform;

// --- records kept for tests -------------------------------------------------

struct PoolBlock {
  EFI_MEMORY_TYPE type;
  size_t size;
  unsigned call_number;  // AllocatePool call that made it; 0 for the firmware's own allocations
  std::string origin;    // "AllocatePool", "LocateHandleBuffer", "ReadSection"
};

struct PoolUsage {
  size_t bytes = 0;
  size_t blocks = 0;
};

struct StallCall {
  uint64_t microseconds;
  uint64_t at_ns;  // virtual time when the stall began
};

struct ConsoleCall {
  enum Kind { Reset, OutputString, SetAttribute, ClearScreen, SetCursorPosition, EnableCursor };
  Kind kind = Reset;
  uint64_t first = 0;   // SetAttribute: attribute; SetCursorPosition: column; EnableCursor: visible
  uint64_t second = 0;  // SetCursorPosition: row
  std::u16string text;  // OutputString
};

struct BltCall {
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer;
  EFI_GRAPHICS_OUTPUT_BLT_OPERATION operation;
  UINTN source_x, source_y, destination_x, destination_y, width, height, delta;
  EFI_STATUS status;
};

struct ConnectCall {
  EFI_HANDLE handle;
  std::string name;  // the handle's name ("nvme0"), empty for an unknown handle
  EFI_HANDLE *driver_image;
  EFI_DEVICE_PATH_PROTOCOL *remaining_path;
  BOOLEAN recursive;
  EFI_STATUS status;
};

struct ResetCall {
  EFI_RESET_TYPE type;
  EFI_STATUS status;
  UINTN data_size;
};

struct GetVariableCall {
  std::u16string name;
  EFI_GUID vendor;
  UINTN data_size_in;  // *DataSize on entry (0 when the slot was null)
  EFI_STATUS status;
};

// An event made by CreateEvent or CreateEventEx. EFI_EVENT is a pointer to one.
struct SimEvent {
  uint32_t type = 0;
  EFI_TPL tpl = 0;
  EFI_EVENT_NOTIFY notify = nullptr;
  void *context = nullptr;
  bool in_group = false;
  EFI_GUID group{};
  bool closed = false;
  bool pending = false;       // signalled, notify function not yet run
  unsigned signal_count = 0;  // times signalled
  unsigned notify_count = 0;  // times its notify function ran
  uint64_t queue_order = 0;
};

// A handle of the handle database. EFI_HANDLE is a pointer to one.
struct SimHandle {
  std::string name;
  std::vector<std::pair<EFI_GUID, void *>> protocols;  // in installation order
};

// A RegisterProtocolNotify registration (the Registration key points to one).
struct SimRegistration {
  EFI_GUID protocol;
  SimEvent *event;
  std::vector<EFI_HANDLE> unreported;  // handles installed since, for LocateHandle(ByRegisterNotify)
};

// --- PCI devices --------------------------------------------------------------

class PciDevice {
 public:
  const std::string &name() const { return name_; }
  EFI_HANDLE handle() const { return handle_; }
  EFI_PCI_IO_PROTOCOL *protocol() { return &protocol_; }

  // Configuration space, 256 bytes unless resized; the class-code dword is at 0x08.
  std::vector<uint8_t> &config() { return config_; }
  void SetClassCode(uint8_t base_class, uint8_t subclass, uint8_t prog_if = 0, uint8_t revision = 0);
  void SetConfigDword(uint32_t offset, uint32_t value);
  // Pci.Read calls this device served (an injected failure serves none).
  unsigned config_reads() const { return config_reads_; }

 private:
  friend class Platform;
  std::string name_;
  SimHandle *handle_ = nullptr;
  EFI_PCI_IO_PROTOCOL protocol_{};
  std::vector<uint8_t> config_ = std::vector<uint8_t>(256, 0);
  unsigned config_reads_ = 0;
};

// --- firmware volumes -----------------------------------------------------------

struct FvSection {
  EFI_SECTION_TYPE type;
  std::vector<uint8_t> data;  // the section's contents, without its header
};

class FirmwareVolume {
 public:
  const std::string &name() const { return name_; }
  EFI_HANDLE handle() const { return handle_; }
  EFI_FIRMWARE_VOLUME2_PROTOCOL *protocol() { return &protocol_; }

  void AddFile(const EFI_GUID &file, std::vector<FvSection> sections);
  // A file holding one raw section (type 0x19).
  void AddRawFile(const EFI_GUID &file, std::vector<uint8_t> data);
  // ReadSection calls this volume served (an injected failure serves none).
  unsigned read_section_calls() const { return read_section_calls_; }

 private:
  friend class Platform;
  struct File {
    EFI_GUID name;
    std::vector<FvSection> sections;
  };
  File *FindFile(const EFI_GUID &name);

  std::string name_;
  SimHandle *handle_ = nullptr;
  EFI_FIRMWARE_VOLUME2_PROTOCOL protocol_{};
  std::vector<File> files_;
  unsigned read_section_calls_ = 0;
};

// --- the platform ---------------------------------------------------------------

class Platform {
 public:
  // The screen a new platform has: 1024 x 768, BGR, one pixel per scan-line unit.
  static constexpr UINT32 kDefaultWidth = 1024;
  static constexpr UINT32 kDefaultHeight = 768;

  Platform();
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;

  // Back to a freshly constructed platform (see the top of this file).
  void Reset();

  // The active platform; aborts when there is none.
  static Platform &Active();
  static Platform *ActiveOrNull();

  // --- what the driver is handed ----------------------------------------------
  EFI_SYSTEM_TABLE *system_table() { return &system_table_; }
  EFI_HANDLE image_handle() const { return image_handle_; }
  EFI_BOOT_SERVICES *boot_services() { return &boot_services_; }
  EFI_RUNTIME_SERVICES *runtime_services() { return &runtime_services_; }
  // Calls DriverEntry with the image handle and the system table.
  EFI_STATUS RunDriverEntry();
  // Gives the driver's globals this platform's image handle and tables and a
  // loaded driver's values (sim::LoadedDriverState), as DriverEntry's first
  // lines do, without running DriverEntry: for tests and tools that call one
  // routine of the driver. The only way they bind it.
  void BindDriver();

  // --- injected failures (sim/failure.h) -----------------------------------------
  // From now on the calls `failure` picks answer what it says; when several
  // pick a call, the one injected last answers it.
  void Inject(Failure failure);
  void ClearFailures(std::string_view service);
  // Calls of the service so far, through the tables, served or not.
  unsigned CallCount(std::string_view service) const;

  // --- pool ----------------------------------------------------------------------
  PoolUsage pool_usage(EFI_MEMORY_TYPE type) const;
  PoolUsage pool_usage() const;  // all types
  size_t peak_pool_bytes() const { return peak_pool_bytes_; }
  const std::map<void *, PoolBlock> &live_pool() const { return pool_; }
  bool IsPoolBlock(const void *buffer) const { return pool_.count(const_cast<void *>(buffer)) != 0; }
  // One line per block still allocated (of one type, or of all), empty when none.
  std::string LeakReport() const;
  std::string LeakReport(EFI_MEMORY_TYPE type) const;

  // --- virtual time ----------------------------------------------------------------
  const std::vector<StallCall> &stalls() const { return stalls_; }
  uint64_t total_stall_us() const { return total_stall_us_; }
  uint64_t now_ns() const;

  // --- console (ConOut) ----------------------------------------------------------------
  const std::vector<ConsoleCall> &console_calls() const { return console_calls_; }
  std::vector<std::u16string> console_strings() const;      // every OutputString text, in order
  std::u16string console_text() const;                      // the same, joined
  void RemoveConsole() { system_table_.ConOut = nullptr; }  // the system table has no console
  void RestoreConsole() { system_table_.ConOut = &console_; }
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *console() { return &console_; }
  const EFI_SIMPLE_TEXT_OUTPUT_MODE &console_mode() const { return console_mode_; }

  // --- graphics output ------------------------------------------------------------------
  EFI_GRAPHICS_OUTPUT_PROTOCOL *gop() { return &gop_; }
  EFI_HANDLE gop_handle() const { return gop_handle_; }
  void SetScreenSize(UINT32 width, UINT32 height);  // clears the framebuffer
  void RemoveGop();                                 // no handle carries the protocol any more
  UINT32 screen_width() const { return gop_info_.HorizontalResolution; }
  UINT32 screen_height() const { return gop_info_.VerticalResolution; }
  const std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> &framebuffer() const { return framebuffer_; }
  EFI_GRAPHICS_OUTPUT_BLT_PIXEL Pixel(UINT32 x, UINT32 y) const;
  const std::vector<BltCall> &blt_calls() const { return blt_calls_; }

  // --- handle database and protocols ---------------------------------------------------------
  // Installs an interface as the driver's InstallProtocolInterface would, on a
  // new handle (named `name`) or an existing one; notify events registered for
  // the protocol run before this returns.
  EFI_HANDLE InstallProtocol(const EFI_GUID &protocol, void *interface, EFI_HANDLE handle = nullptr,
                             std::string name = "");
  // Installs NoticeTriggerProtocolGuid on a new handle: the start of a notice.
  EFI_HANDLE InstallTrigger();
  EFI_STATUS UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &protocol);
  EFI_HANDLE CreateHandle(std::string name);
  SimHandle *FindHandle(EFI_HANDLE handle) const;
  std::string HandleName(EFI_HANDLE handle) const;
  std::vector<SimRegistration *> registrations() const;
  const std::vector<ConnectCall> &connect_calls() const { return connect_calls_; }
  std::vector<std::string> connected_names() const;  // ConnectController handles, by name, in order

  // --- events ----------------------------------------------------------------------------------
  std::vector<const SimEvent *> events() const;
  const SimEvent *FindEvent(EFI_EVENT event) const;
  // Signals every event of the group; their notify functions run, highest TPL first.
  void SignalEventGroup(const EFI_GUID &group);
  void SignalEndOfDxe();
  EFI_TPL current_tpl() const { return current_tpl_; }

  // --- PCI devices --------------------------------------------------------------------------------
  PciDevice &AddPciDevice(std::string name, uint8_t base_class, uint8_t subclass, uint8_t prog_if = 0,
                          uint8_t revision = 0);
  PciDevice *FindPciDevice(std::string_view name);

  // --- firmware volumes ----------------------------------------------------------------------------
  FirmwareVolume &AddFirmwareVolume(std::string name);

  // --- variables --------------------------------------------------------------------------------------
  void SetVariable(std::u16string name, const EFI_GUID &vendor, UINT32 attributes, std::vector<uint8_t> data);
  void RemoveVariable(const std::u16string &name, const EFI_GUID &vendor);
  // "SecureBoot" under EFI_GLOBAL_VARIABLE, one byte, boot-service and runtime access.
  void SetSecureBoot(uint8_t value);
  const std::vector<GetVariableCall> &get_variable_calls() const { return get_variable_calls_; }

  // --- reset --------------------------------------------------------------------------------------------
  const std::vector<ResetCall> &reset_calls() const { return reset_calls_; }
  // True once ResetSystem was called: the machine is off (or restarting).
  // Unlike real firmware, ResetSystem returns to its caller; calls made after
  // it are still served, and their log records carry the field AfterReset.
  bool is_off() const { return off_; }

  // --- configuration table and HOB list --------------------------------------------------------------------
  void AddConfigurationTable(const EFI_GUID &guid, void *table);
  // Keeps a copy of the bytes (exactly sized) and publishes it under EFI_HOB_LIST_GUID.
  // When the list starts with a hand-off HOB, the end it records is taken as
  // an offset from the list's start (as HobListBuilder writes it) and turned
  // into the address in the copy.
  void *InstallHobList(std::vector<uint8_t> bytes);

  // --- interaction log and misuse ----------------------------------------------------------------------------
  const std::vector<CallRecord> &log() const { return log_; }
  std::vector<CallRecord> LogOf(std::string_view name) const;
  // Called as each call finishes, with its complete record.
  std::function<void(const CallRecord &)> on_call;
  // Services called that the driver never should (each answered EFI_UNSUPPORTED).
  const std::vector<std::string> &unexpected_calls() const { return unexpected_calls_; }
  // Calls real firmware would reject or crash on, described.
  const std::vector<std::string> &faults() const { return faults_; }

  // ============ firmware side: what the thunks forward to ==============================
  // A call in progress: logged at entry, finished with its status.
  class Call {
   public:
    Call(Platform &platform, size_t index, std::shared_ptr<const Failure> injected)
        : platform_(platform), index_(index), injected_(std::move(injected)) {}
    // The failure that answers this call instead of the service, if any.
    const Failure *injected() const { return injected_.get(); }
    void AddField(std::string key, std::string value);
    EFI_STATUS Finish(EFI_STATUS status);
    void FinishVoid();

   private:
    Platform &platform_;
    size_t index_;
    std::shared_ptr<const Failure> injected_;
  };
  // Counts the call, logs it and finds the failure that picks it.
  Call BeginCall(std::string_view name, std::vector<LogField> fields = {}, const CallSubject &subject = {});
  // A fresh boot-services-data pool block holding `bytes`, handed out by the service `origin`.
  void *HandOutPoolBlock(const std::vector<uint8_t> &bytes, std::string origin);
  void Unexpected(std::string_view service);
  void Fault(std::string description);

  EFI_STATUS DoAllocatePool(EFI_MEMORY_TYPE type, UINTN size, void **buffer, unsigned call_number);
  EFI_STATUS DoFreePool(void *buffer);
  EFI_STATUS DoStall(UINTN microseconds);
  EFI_STATUS DoCreateEvent(UINT32 type, EFI_TPL tpl, EFI_EVENT_NOTIFY notify, const void *context,
                           const EFI_GUID *group, EFI_EVENT *event);
  EFI_STATUS DoSignalEvent(EFI_EVENT event);
  EFI_STATUS DoCloseEvent(EFI_EVENT event);
  EFI_TPL DoRaiseTpl(EFI_TPL tpl);
  void DoRestoreTpl(EFI_TPL tpl);
  EFI_STATUS DoInstallProtocolInterface(EFI_HANDLE *handle, const EFI_GUID *protocol, void *interface);
  EFI_STATUS DoUninstallProtocolInterface(EFI_HANDLE handle, const EFI_GUID *protocol, void *interface);
  EFI_STATUS DoHandleProtocol(EFI_HANDLE handle, const EFI_GUID *protocol, void **interface);
  EFI_STATUS DoRegisterProtocolNotify(const EFI_GUID *protocol, EFI_EVENT event, void **registration);
  EFI_STATUS DoLocateHandleBuffer(EFI_LOCATE_SEARCH_TYPE type, const EFI_GUID *protocol, void *key, UINTN *count,
                                  EFI_HANDLE **buffer);
  EFI_STATUS DoLocateProtocol(const EFI_GUID *protocol, void *registration, void **interface);
  EFI_STATUS DoConnectController(EFI_HANDLE handle, EFI_HANDLE *driver_image, EFI_DEVICE_PATH_PROTOCOL *path,
                                 BOOLEAN recursive);
  EFI_STATUS DoGetVariable(const CHAR16 *name, const EFI_GUID *vendor, UINT32 *attributes, UINTN *size, void *data);
  void DoResetSystem(EFI_RESET_TYPE type, EFI_STATUS status, UINTN data_size);
  EFI_STATUS DoConsole(ConsoleCall call);
  EFI_STATUS DoBlt(EFI_GRAPHICS_OUTPUT_BLT_PIXEL *buffer, EFI_GRAPHICS_OUTPUT_BLT_OPERATION operation, UINTN source_x,
                   UINTN source_y, UINTN destination_x, UINTN destination_y, UINTN width, UINTN height, UINTN delta);
  EFI_STATUS DoPciRead(EFI_PCI_IO_PROTOCOL *pci_io, EFI_PCI_IO_PROTOCOL_WIDTH width, UINT32 offset, UINTN count,
                       void *buffer, bool write);
  EFI_STATUS DoReadSection(const EFI_FIRMWARE_VOLUME2_PROTOCOL *fv, const EFI_GUID *file, EFI_SECTION_TYPE section_type,
                           UINTN instance, void **buffer, UINTN *buffer_size, UINT32 *authentication_status);

 private:
  struct Variable {
    std::u16string name;
    EFI_GUID vendor;
    UINT32 attributes;
    std::vector<uint8_t> data;
  };

  void FillBootServices();
  void FillRuntimeServices();
  void FillConsole();
  void FillGop();
  void ReleasePool();
  void *AllocateInternal(EFI_MEMORY_TYPE type, size_t size, std::string origin);
  SimEvent *FindLiveEvent(EFI_EVENT event) const;
  void QueueEvent(SimEvent *event);
  void DispatchPending();
  void NotifyRegistrations(const EFI_GUID &protocol, EFI_HANDLE handle);
  bool ValidHandle(EFI_HANDLE handle) const { return FindHandle(handle) != nullptr; }
  Variable *FindVariable(std::u16string_view name, const EFI_GUID &vendor);

  EFI_SYSTEM_TABLE system_table_{};
  EFI_BOOT_SERVICES boot_services_{};
  EFI_RUNTIME_SERVICES runtime_services_{};
  std::vector<EFI_CONFIGURATION_TABLE> configuration_table_;
  std::vector<std::unique_ptr<uint8_t[]>> hob_lists_;

  std::vector<std::shared_ptr<const Failure>> failures_;  // in injection order
  std::map<std::string, unsigned, std::less<>> call_counts_;

  std::map<void *, PoolBlock> pool_;
  size_t pool_bytes_ = 0;
  size_t peak_pool_bytes_ = 0;

  std::vector<StallCall> stalls_;
  uint64_t total_stall_us_ = 0;

  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL console_{};
  EFI_SIMPLE_TEXT_OUTPUT_MODE console_mode_{};
  std::vector<ConsoleCall> console_calls_;

  EFI_GRAPHICS_OUTPUT_PROTOCOL gop_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE gop_mode_{};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION gop_info_{};
  std::vector<EFI_GRAPHICS_OUTPUT_BLT_PIXEL> framebuffer_;
  std::vector<BltCall> blt_calls_;
  // Rows [first, end) of the framebuffer written since it was last cleared.
  size_t written_rows_first_ = 0;
  size_t written_rows_end_ = 0;
  EFI_HANDLE gop_handle_ = nullptr;

  std::vector<std::unique_ptr<SimHandle>> handles_;  // creation order is database order
  EFI_HANDLE image_handle_ = nullptr;
  std::vector<std::unique_ptr<SimRegistration>> registrations_;
  std::vector<ConnectCall> connect_calls_;

  std::vector<std::unique_ptr<SimEvent>> events_;
  EFI_TPL current_tpl_ = TPL_APPLICATION;
  uint64_t queue_counter_ = 0;

  std::vector<std::unique_ptr<PciDevice>> pci_devices_;
  std::vector<std::unique_ptr<FirmwareVolume>> volumes_;

  std::vector<Variable> variables_;
  std::vector<GetVariableCall> get_variable_calls_;

  std::vector<ResetCall> reset_calls_;
  bool off_ = false;

  std::vector<CallRecord> log_;
  unsigned depth_ = 0;
  std::vector<std::string> unexpected_calls_;
  std::vector<std::string> faults_;
};

}  // namespace sim
