# The driver image and the firmware test application.
#
# Sections keep lld-link's default alignment of one 4 KiB page, so firmware can
# map code read-only and executable and data non-executable; code, read-only
# data and writable data stay in separate sections. The file alignment is
# small (32 bytes) so the page alignment costs no file size.
set(NOTICE_IMAGE_LINK_FLAGS /subsystem:efi_boot_service_driver /entry:DriverEntry /filealign:32 /opt:ref /opt:icf)

add_executable(notice ${NOTICE_DRIVER_SOURCES} hw/x86/hw_access_x86.cpp core/runtime/compiler_runtime.cpp)
set_target_properties(notice PROPERTIES SUFFIX ".efi")
target_include_directories(notice PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(notice PRIVATE ${NOTICE_WARNINGS})
target_link_options(notice PRIVATE ${NOTICE_IMAGE_LINK_FLAGS})

if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/app/CMakeLists.txt)
  add_subdirectory(e2e/app)
endif()
