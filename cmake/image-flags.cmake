# The compiler flags of the driver image, shared by the image's toolchain file
# and by the host benchmarks that measure the decoder and the formatter as
# they ship.
#
# Freestanding: no C library, no exceptions or RTTI, no stack probes, no unwind
# tables. General-purpose registers only: some firmware leaves SSE disabled
# (CR4.OSFXSR clear), where any XMM instruction faults, so the compiler must not
# use them for copies, zeroing or vector code. Optimised for size across the
# whole program (-Oz with LTO).
set(NOTICE_IMAGE_COMPILE_FLAGS
    -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-stack-protector -mno-stack-arg-probe
    -fno-asynchronous-unwind-tables -fno-unwind-tables -fshort-wchar -nostdlibinc -mgeneral-regs-only)
set(NOTICE_IMAGE_OPTIMISE_FLAGS -Oz -flto)
