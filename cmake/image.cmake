# The driver image and the firmware test application.
#
# Sections keep lld-link's default alignment of one 4 KiB page, so firmware can
# map code read-only and executable and data non-executable; code, read-only
# data and writable data stay in separate sections. The file alignment is
# small (32 bytes) so the page alignment costs no file size. The header's time
# stamp is 0, so the same sources give the same bytes.
# The link-time code generation outlines repeated instruction sequences into
# shared routines (the machine outliner), which makes the code smaller.
set(NOTICE_IMAGE_LINK_FLAGS /subsystem:efi_boot_service_driver /entry:DriverEntry /filealign:32 /timestamp:0
    /opt:ref /opt:icf /mllvm:-enable-machine-outliner)

# Clang for a Windows target is taken for an MSVC look-alike, which leaves
# header dependencies untracked (an edited header would not rebuild the
# image); clang writes them like GCC does.
set(CMAKE_DEPFILE_FLAGS_CXX "-MD -MT <DEP_TARGET> -MF <DEP_FILE>")
set(CMAKE_CXX_DEPFILE_FORMAT gcc)

include(${CMAKE_SOURCE_DIR}/cmake/image-flags.cmake)
add_compile_options(${NOTICE_IMAGE_COMPILE_FLAGS})

add_executable(notice ${NOTICE_DRIVER_SOURCES} hw/x86/hw_access_x86.cpp base/runtime/compiler_runtime.cpp)
set_target_properties(notice PROPERTIES SUFFIX ".efi")
target_include_directories(notice PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(notice PRIVATE ${NOTICE_WARNINGS})
target_link_options(notice PRIVATE ${NOTICE_IMAGE_LINK_FLAGS})
# lld-link leaves a DOS program and room for a section header it does not use
# in front of the PE headers; packing them saves 96 bytes of file and changes
# no section (see scripts/pack-image-headers.py). Part of the link step, so a
# second link (the reproducibility check) packs too.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(TARGET notice POST_BUILD
                   COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/scripts/pack-image-headers.py $<TARGET_FILE:notice>
                   VERBATIM)

if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/app/CMakeLists.txt)
  add_subdirectory(e2e/app)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/probes/CMakeLists.txt)
  add_subdirectory(e2e/probes)
endif()
