# Toolchain for the driver image: PE32+ for x86-64, built with clang and lld-link.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(NOTICE_IMAGE ON CACHE BOOL "Build the firmware image instead of the host build" FORCE)

# Freestanding: no C library, no exceptions or RTTI, no stack probes, no unwind tables.
# Release images are optimised for size across the whole program (-Oz with LTO).
set(CMAKE_CXX_FLAGS_INIT
    "--target=x86_64-unknown-windows -ffreestanding -fno-exceptions -fno-rtti -fno-threadsafe-statics -fno-stack-protector \
-mno-stack-arg-probe -fno-asynchronous-unwind-tables -fno-unwind-tables -fshort-wchar -nostdlibinc")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-Oz -flto")
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "-Oz -flto")

find_program(NOTICE_LLD_LINK lld-link REQUIRED)
set(CMAKE_CXX_LINK_EXECUTABLE "${NOTICE_LLD_LINK} /nologo /nodefaultlib <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
