// The scatter writer: sends one message through a handle's channel.
#pragma once

#include "trace/trace_records.h"

// Sends the descriptor's first 32-bit word (the message header) with a time
// stamp, then the fields Program selects from Descriptor, then, when the
// handle's Tag has the checksum bit, the CRC-32C of everything sent so far,
// then the end flag. Every value goes out in one store of its own width as
// soon as it is read. Entries with an unknown opcode are skipped. Nothing is
// checked: handle, program, descriptor and the pointers in it must be valid.
// Fields may lie at any alignment.
void EFIAPI TraceScatterWrite(TraceHandle *Handle, const TraceScatterEntry *Program, const void *Descriptor);
