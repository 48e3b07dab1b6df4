#include "trace/trace_writer.h"

#include "base/calling_convention.h"
#include "base/memory.h"
#include "trace/trace_crc.h"

namespace {

// One message on its way out: the hooks it goes through and the running CRC.
struct Message {
  TraceHandle *Handle;
  const TraceHeader *Hooks;
  bool Checksum;
  UINT32 Crc;
};

// One store of Bytes bytes to the plain data register, then into the CRC.
void SendValue(Message &M, UINT64 Value, UINTN Bytes) {
  switch (Bytes) {
    case 1:
      M.Hooks->Write8(M.Handle, static_cast<UINT8>(Value));
      break;
    case 2:
      M.Hooks->Write16(M.Handle, static_cast<UINT16>(Value));
      break;
    case 4:
      M.Hooks->Write32(M.Handle, static_cast<UINT32>(Value));
      break;
    default:
      M.Hooks->Write64(M.Handle, Value);
      break;
  }
  if (M.Checksum) M.Crc = TraceCrcAdd(M.Crc, Value, Bytes);
}

// Count values of Bytes bytes each, read one after another from Source;
// returns the position after the last.
NOTICE_INTERNAL_CALL const UINT8 *SendItems(Message &M, const UINT8 *Source, UINTN Bytes, UINTN Count) {
  for (; Count != 0; --Count, Source += Bytes) SendValue(M, ReadLittleEndian(Source, Bytes), Bytes);
  return Source;
}

// Length bytes at Data: 64-bit stores while 8 bytes remain, then at most one
// 32-, one 16- and one 8-bit store for the tail (after the wider stores fewer
// than twice the narrower width remain, so each narrower width sends at most one).
void SendBlob(Message &M, const UINT8 *Data, UINTN Length) {
  for (UINTN bytes = 8; bytes != 0; bytes /= 2) {
    Data = SendItems(M, Data, bytes, Length / bytes);
    Length %= bytes;
  }
}

}  // namespace

void EFIAPI TraceScatterWrite(TraceHandle *Handle, const TraceScatterEntry *Program, const void *Descriptor) {
  const UINT8 *descriptor = static_cast<const UINT8 *>(Descriptor);
  Message m{Handle, Handle->Header, (Handle->Tag & kTraceTagChecksum) != 0, kTraceCrcPreset};
  if (m.Checksum) TraceCrcPrepareTable();

  UINT32 message_header = ReadLe32(descriptor);
  m.Hooks->Write32Stamped(Handle, message_header);
  if (m.Checksum) m.Crc = TraceCrcAdd(m.Crc, message_header, sizeof(message_header));

  // Entries are read byte-wise: a program may lie at any alignment, and of the
  // terminator only its opcode byte may be read.
  for (const UINT8 *entry = reinterpret_cast<const UINT8 *>(Program); entry[0] != kTraceScatterEnd;
       entry += sizeof(TraceScatterEntry)) {
    TraceScatterEntry e;
    CopyBytes(&e, entry, sizeof(e));
    const UINT8 *field = descriptor + e.Offset;
    switch (e.Opcode) {
      case kTraceScatter8:
      case kTraceScatter16:
      case kTraceScatter32:
      case kTraceScatter64:
        SendItems(m, field, e.Opcode, e.Count);
        break;
      case kTraceScatterBlob:
        SendBlob(m, reinterpret_cast<const UINT8 *>(static_cast<UINTN>(ReadLe64(field))), e.Count);
        break;
      default:
        break;  // unknown opcode: nothing sent, CRC unchanged
    }
  }

  if (m.Checksum) m.Hooks->Write32(Handle, ~m.Crc);
  m.Hooks->WriteEndFlag(Handle);
}
