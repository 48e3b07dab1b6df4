# Toolchain for the driver image: PE32+ for x86-64, built with clang and lld-link.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_CXX_COMPILER clang++)

set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(NOTICE_IMAGE ON CACHE BOOL "Build the firmware image instead of the host build" FORCE)

# The image's compiler flags (cmake/image-flags.cmake) are added by
# cmake/image.cmake, so a build folder configured earlier picks up a change to
# them; only the target and the optimisation level are set here.
include(${CMAKE_CURRENT_LIST_DIR}/image-flags.cmake)
list(JOIN NOTICE_IMAGE_OPTIMISE_FLAGS " " _notice_optimise_flags)
set(CMAKE_CXX_FLAGS_INIT "--target=x86_64-unknown-windows")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "${_notice_optimise_flags}")
set(CMAKE_CXX_FLAGS_MINSIZEREL_INIT "${_notice_optimise_flags}")

find_program(NOTICE_LLD_LINK lld-link REQUIRED)
set(CMAKE_CXX_LINK_EXECUTABLE "${NOTICE_LLD_LINK} /nologo /nodefaultlib <LINK_FLAGS> <OBJECTS> /out:<TARGET> <LINK_LIBRARIES>")
