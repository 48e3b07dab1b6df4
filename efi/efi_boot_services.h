// EFI_BOOT_SERVICES, every slot in UEFI order.
#pragma once

#include "efi/efi_types.h"

// Service tables keep the layout of the UEFI and PI specifications' own
// declarations: one member a line, arguments wrapped under the first.
// clang-format off

enum EFI_ALLOCATE_TYPE : UINT32 { AllocateAnyPages, AllocateMaxAddress, AllocateAddress };

enum EFI_MEMORY_TYPE : UINT32 {
  EfiReservedMemoryType = 0,
  EfiLoaderCode = 1,
  EfiLoaderData = 2,
  EfiBootServicesCode = 3,
  EfiBootServicesData = 4,
  EfiRuntimeServicesCode = 5,
  EfiRuntimeServicesData = 6,
};

enum EFI_TIMER_DELAY : UINT32 { TimerCancel, TimerPeriodic, TimerRelative };

enum EFI_INTERFACE_TYPE : UINT32 { EFI_NATIVE_INTERFACE };

enum EFI_LOCATE_SEARCH_TYPE : UINT32 { AllHandles = 0, ByRegisterNotify = 1, ByProtocol = 2 };

constexpr UINT32 EVT_TIMER = 0x80000000u;
constexpr UINT32 EVT_NOTIFY_WAIT = 0x00000100u;
constexpr UINT32 EVT_NOTIFY_SIGNAL = 0x00000200u;

constexpr EFI_TPL TPL_APPLICATION = 4;
constexpr EFI_TPL TPL_CALLBACK = 8;
constexpr EFI_TPL TPL_NOTIFY = 16;
constexpr EFI_TPL TPL_HIGH_LEVEL = 31;

struct EFI_MEMORY_DESCRIPTOR;
struct EFI_OPEN_PROTOCOL_INFORMATION_ENTRY;

struct EFI_BOOT_SERVICES {
  EFI_TABLE_HEADER Hdr;

  EFI_TPL(EFIAPI *RaiseTPL)(EFI_TPL NewTpl);
  void(EFIAPI *RestoreTPL)(EFI_TPL OldTpl);

  EFI_STATUS(EFIAPI *AllocatePages)(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                    EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS(EFIAPI *FreePages)(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages);
  EFI_STATUS(EFIAPI *GetMemoryMap)(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey,
                                   UINTN *DescriptorSize, UINT32 *DescriptorVersion);
  EFI_STATUS(EFIAPI *AllocatePool)(EFI_MEMORY_TYPE PoolType, UINTN Size, void **Buffer);
  EFI_STATUS(EFIAPI *FreePool)(void *Buffer);

  EFI_STATUS(EFIAPI *CreateEvent)(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                  void *NotifyContext, EFI_EVENT *Event);
  EFI_STATUS(EFIAPI *SetTimer)(EFI_EVENT Event, EFI_TIMER_DELAY Type, UINT64 TriggerTime);
  EFI_STATUS(EFIAPI *WaitForEvent)(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index);
  EFI_STATUS(EFIAPI *SignalEvent)(EFI_EVENT Event);
  EFI_STATUS(EFIAPI *CloseEvent)(EFI_EVENT Event);
  EFI_STATUS(EFIAPI *CheckEvent)(EFI_EVENT Event);

  EFI_STATUS(EFIAPI *InstallProtocolInterface)(EFI_HANDLE *Handle, const EFI_GUID *Protocol,
                                               EFI_INTERFACE_TYPE InterfaceType, void *Interface);
  EFI_STATUS(EFIAPI *ReinstallProtocolInterface)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                 void *OldInterface, void *NewInterface);
  EFI_STATUS(EFIAPI *UninstallProtocolInterface)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                                 void *Interface);
  EFI_STATUS(EFIAPI *HandleProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, void **Interface);
  void *Reserved;
  EFI_STATUS(EFIAPI *RegisterProtocolNotify)(const EFI_GUID *Protocol, EFI_EVENT Event, void **Registration);
  EFI_STATUS(EFIAPI *LocateHandle)(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                   void *SearchKey, UINTN *BufferSize, EFI_HANDLE *Buffer);
  EFI_STATUS(EFIAPI *LocateDevicePath)(const EFI_GUID *Protocol, EFI_DEVICE_PATH_PROTOCOL **DevicePath,
                                       EFI_HANDLE *Device);
  EFI_STATUS(EFIAPI *InstallConfigurationTable)(const EFI_GUID *Guid, void *Table);

  EFI_STATUS(EFIAPI *LoadImage)(BOOLEAN BootPolicy, EFI_HANDLE ParentImageHandle,
                                EFI_DEVICE_PATH_PROTOCOL *DevicePath, void *SourceBuffer, UINTN SourceSize,
                                EFI_HANDLE *ImageHandle);
  EFI_STATUS(EFIAPI *StartImage)(EFI_HANDLE ImageHandle, UINTN *ExitDataSize, CHAR16 **ExitData);
  EFI_STATUS(EFIAPI *Exit)(EFI_HANDLE ImageHandle, EFI_STATUS ExitStatus, UINTN ExitDataSize,
                           CHAR16 *ExitData);
  EFI_STATUS(EFIAPI *UnloadImage)(EFI_HANDLE ImageHandle);
  EFI_STATUS(EFIAPI *ExitBootServices)(EFI_HANDLE ImageHandle, UINTN MapKey);

  EFI_STATUS(EFIAPI *GetNextMonotonicCount)(UINT64 *Count);
  EFI_STATUS(EFIAPI *Stall)(UINTN Microseconds);
  EFI_STATUS(EFIAPI *SetWatchdogTimer)(UINTN Timeout, UINT64 WatchdogCode, UINTN DataSize,
                                       CHAR16 *WatchdogData);

  EFI_STATUS(EFIAPI *ConnectController)(EFI_HANDLE ControllerHandle, EFI_HANDLE *DriverImageHandle,
                                        EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath, BOOLEAN Recursive);
  EFI_STATUS(EFIAPI *DisconnectController)(EFI_HANDLE ControllerHandle, EFI_HANDLE DriverImageHandle,
                                           EFI_HANDLE ChildHandle);

  EFI_STATUS(EFIAPI *OpenProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, void **Interface,
                                   EFI_HANDLE AgentHandle, EFI_HANDLE ControllerHandle, UINT32 Attributes);
  EFI_STATUS(EFIAPI *CloseProtocol)(EFI_HANDLE Handle, const EFI_GUID *Protocol, EFI_HANDLE AgentHandle,
                                    EFI_HANDLE ControllerHandle);
  EFI_STATUS(EFIAPI *OpenProtocolInformation)(EFI_HANDLE Handle, const EFI_GUID *Protocol,
                                              EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer,
                                              UINTN *EntryCount);

  EFI_STATUS(EFIAPI *ProtocolsPerHandle)(EFI_HANDLE Handle, EFI_GUID ***ProtocolBuffer,
                                         UINTN *ProtocolBufferCount);
  EFI_STATUS(EFIAPI *LocateHandleBuffer)(EFI_LOCATE_SEARCH_TYPE SearchType, const EFI_GUID *Protocol,
                                         void *SearchKey, UINTN *NoHandles, EFI_HANDLE **Buffer);
  EFI_STATUS(EFIAPI *LocateProtocol)(const EFI_GUID *Protocol, void *Registration, void **Interface);
  // The two multiple-interface services are variadic in UEFI; the driver never calls them.
  void *InstallMultipleProtocolInterfaces;
  void *UninstallMultipleProtocolInterfaces;

  EFI_STATUS(EFIAPI *CalculateCrc32)(void *Data, UINTN DataSize, UINT32 *Crc32);

  void(EFIAPI *CopyMem)(void *Destination, void *Source, UINTN Length);
  void(EFIAPI *SetMem)(void *Buffer, UINTN Size, UINT8 Value);
  EFI_STATUS(EFIAPI *CreateEventEx)(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                    const void *NotifyContext, const EFI_GUID *EventGroup, EFI_EVENT *Event);
};

// Slot positions pinned from the UEFI table: header, then 8 bytes a slot.
#define EFI_BS_SLOT(field, index) \
  static_assert(offsetof(EFI_BOOT_SERVICES, field) == 24 + 8 * (index), "EFI_BOOT_SERVICES." #field)
EFI_BS_SLOT(RaiseTPL, 0);
EFI_BS_SLOT(RestoreTPL, 1);
EFI_BS_SLOT(AllocatePages, 2);
EFI_BS_SLOT(FreePages, 3);
EFI_BS_SLOT(GetMemoryMap, 4);
EFI_BS_SLOT(AllocatePool, 5);
EFI_BS_SLOT(FreePool, 6);
EFI_BS_SLOT(CreateEvent, 7);
EFI_BS_SLOT(SetTimer, 8);
EFI_BS_SLOT(WaitForEvent, 9);
EFI_BS_SLOT(SignalEvent, 10);
EFI_BS_SLOT(CloseEvent, 11);
EFI_BS_SLOT(CheckEvent, 12);
EFI_BS_SLOT(InstallProtocolInterface, 13);
EFI_BS_SLOT(ReinstallProtocolInterface, 14);
EFI_BS_SLOT(UninstallProtocolInterface, 15);
EFI_BS_SLOT(HandleProtocol, 16);
EFI_BS_SLOT(Reserved, 17);
EFI_BS_SLOT(RegisterProtocolNotify, 18);
EFI_BS_SLOT(LocateHandle, 19);
EFI_BS_SLOT(LocateDevicePath, 20);
EFI_BS_SLOT(InstallConfigurationTable, 21);
EFI_BS_SLOT(LoadImage, 22);
EFI_BS_SLOT(StartImage, 23);
EFI_BS_SLOT(Exit, 24);
EFI_BS_SLOT(UnloadImage, 25);
EFI_BS_SLOT(ExitBootServices, 26);
EFI_BS_SLOT(GetNextMonotonicCount, 27);
EFI_BS_SLOT(Stall, 28);
EFI_BS_SLOT(SetWatchdogTimer, 29);
EFI_BS_SLOT(ConnectController, 30);
EFI_BS_SLOT(DisconnectController, 31);
EFI_BS_SLOT(OpenProtocol, 32);
EFI_BS_SLOT(CloseProtocol, 33);
EFI_BS_SLOT(OpenProtocolInformation, 34);
EFI_BS_SLOT(ProtocolsPerHandle, 35);
EFI_BS_SLOT(LocateHandleBuffer, 36);
EFI_BS_SLOT(LocateProtocol, 37);
EFI_BS_SLOT(InstallMultipleProtocolInterfaces, 38);
EFI_BS_SLOT(UninstallMultipleProtocolInterfaces, 39);
EFI_BS_SLOT(CalculateCrc32, 40);
EFI_BS_SLOT(CopyMem, 41);
EFI_BS_SLOT(SetMem, 42);
EFI_BS_SLOT(CreateEventEx, 43);
#undef EFI_BS_SLOT
static_assert(sizeof(EFI_BOOT_SERVICES) == 24 + 8 * 44, "EFI_BOOT_SERVICES size");
// clang-format on
