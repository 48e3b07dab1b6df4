// The calling convention of the driver's own internal routines.
#pragma once

// For a few routines inside the driver, called only from its own code and
// never through a pointer: the System V convention passes six arguments in
// registers and needs no shadow space, which makes their calls smaller than
// with EFIAPI, the convention every firmware call keeps. The driver uses no
// vector registers, so the registers the two conventions preserve
// differently are never in use. (On the host it is the host's own convention.)
#define NOTICE_INTERNAL_CALL __attribute__((sysv_abi))
