// EFI_PCI_IO_PROTOCOL.
#pragma once

#include "efi/efi_types.h"

enum EFI_PCI_IO_PROTOCOL_WIDTH : UINT32 {
  EfiPciIoWidthUint8 = 0,
  EfiPciIoWidthUint16 = 1,
  EfiPciIoWidthUint32 = 2,
  EfiPciIoWidthUint64 = 3,
};

struct EFI_PCI_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_POLL_IO_MEM)(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                            UINT8 BarIndex, UINT64 Offset, UINT64 Mask, UINT64 Value,
                                                            UINT64 Delay, UINT64 *Result);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_IO_MEM)(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT8 BarIndex, UINT64 Offset, UINTN Count, void *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_CONFIG)(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_PROTOCOL_WIDTH Width,
                                                       UINT32 Offset, UINTN Count, void *Buffer);

struct EFI_PCI_IO_PROTOCOL_ACCESS {
  EFI_PCI_IO_PROTOCOL_IO_MEM Read;
  EFI_PCI_IO_PROTOCOL_IO_MEM Write;
};

struct EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS {
  EFI_PCI_IO_PROTOCOL_CONFIG Read;
  EFI_PCI_IO_PROTOCOL_CONFIG Write;
};

struct EFI_PCI_IO_PROTOCOL {
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollMem;
  EFI_PCI_IO_PROTOCOL_POLL_IO_MEM PollIo;
  EFI_PCI_IO_PROTOCOL_ACCESS Mem;
  EFI_PCI_IO_PROTOCOL_ACCESS Io;
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  // The remaining services are never called by the driver; their slots are kept for the layout.
  void *CopyMem;
  void *Map;
  void *Unmap;
  void *AllocateBuffer;
  void *FreeBuffer;
  void *Flush;
  void *GetLocation;
  void *Attributes;
  void *GetBarAttributes;
  void *SetBarAttributes;
  UINT64 RomSize;
  void *RomImage;
};
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Mem) == 16, "PCI I/O Mem slots");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Io) == 32, "PCI I/O Io slots");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48, "PCI I/O Pci slots");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, Pci.Read) == 48, "PCI I/O Pci.Read");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, CopyMem) == 64, "PCI I/O CopyMem slot");
static_assert(offsetof(EFI_PCI_IO_PROTOCOL, RomSize) == 144, "PCI I/O RomSize");
static_assert(sizeof(EFI_PCI_IO_PROTOCOL) == 160, "PCI I/O size");

// Configuration-space dword holding revision, programming interface, subclass and base class.
constexpr UINT32 kPciClassCodeOffset = 0x08;
constexpr UINT8 kPciClassMassStorage = 0x01;
constexpr UINT8 kPciSubclassIde = 0x01;
constexpr UINT8 kPciSubclassRaid = 0x04;
constexpr UINT8 kPciSubclassSata = 0x06;
constexpr UINT8 kPciSubclassNvm = 0x08;
