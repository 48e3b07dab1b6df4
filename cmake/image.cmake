# The driver image and the firmware test application.
set(NOTICE_IMAGE_LINK_FLAGS /subsystem:efi_boot_service_driver /entry:DriverEntry /filealign:32 /align:32
    /merge:.rdata=.text /opt:ref /opt:icf)

add_executable(notice ${NOTICE_DRIVER_SOURCES} hw/x86/hw_access_x86.cpp core/runtime/compiler_runtime.cpp)
set_target_properties(notice PROPERTIES SUFFIX ".efi")
target_include_directories(notice PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(notice PRIVATE ${NOTICE_WARNINGS})
target_link_options(notice PRIVATE ${NOTICE_IMAGE_LINK_FLAGS})

if(EXISTS ${CMAKE_SOURCE_DIR}/e2e/app/CMakeLists.txt)
  add_subdirectory(e2e/app)
endif()
