# The decoder and the formatting engine built with the image's own compiler
# flags, as one object the host benchmarks link beside the host-flags driver
# library, so one benchmark process measures both builds.
#
# The image is a PE32+ file for a Windows-ABI target and cannot link into a
# Linux program, so this copy targets the host ABI with otherwise the image's
# flags (cmake/image-flags.cmake): clang, -Oz, link-time optimisation across
# the copy (ld.lld -r runs the same LTO pipeline lld-link runs for the image)
# and the image's memcpy/memset (base/runtime). Only the entry points in
# bench/image_flags stay global; everything else in the copy is made local.
include(${CMAKE_SOURCE_DIR}/cmake/image-flags.cmake)

find_program(NOTICE_BENCH_CLANG clang++)
find_program(NOTICE_BENCH_LD_LLD ld.lld)
find_program(NOTICE_BENCH_OBJCOPY llvm-objcopy)

# Sets OUTPUT_VAR to the object's path, or to "" when the tools are missing.
function(notice_image_flags_object OUTPUT_VAR)
  if(NOT NOTICE_BENCH_CLANG OR NOT NOTICE_BENCH_LD_LLD OR NOT NOTICE_BENCH_OBJCOPY)
    message(STATUS "benchmarks: clang++, ld.lld or llvm-objcopy missing; only the host-flags build is measured")
    set(${OUTPUT_VAR} "" PARENT_SCOPE)
    return()
  endif()

  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/display/bmp_*.cpp ${CMAKE_SOURCE_DIR}/print/*.cpp)
  list(FILTER sources EXCLUDE REGEX "console_print\\.cpp$")
  list(APPEND sources ${CMAKE_SOURCE_DIR}/base/runtime/compiler_runtime.cpp
       ${CMAKE_SOURCE_DIR}/bench/image_flags/entry_points.cpp)

  # Ninja makes an output's folder itself; Make does not, so it is made here
  # and again before each step (in case the build folder was cleaned).
  set(dir ${CMAKE_BINARY_DIR}/bench-image-flags)
  file(MAKE_DIRECTORY ${dir})
  set(bitcode)
  foreach(src ${sources})
    file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR} ${src})
    string(REPLACE "/" "_" name ${rel})
    set(bc ${dir}/${name}.bc)
    add_custom_command(
      OUTPUT ${bc}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${NOTICE_BENCH_CLANG} --target=x86_64-linux-gnu -fPIE ${NOTICE_IMAGE_COMPILE_FLAGS}
              ${NOTICE_IMAGE_OPTIMISE_FLAGS} -std=c++20 -I${CMAKE_SOURCE_DIR} -MD -MF ${bc}.d -c ${src} -o ${bc}
      DEPENDS ${src}
      DEPFILE ${bc}.d
      COMMENT "Compiling ${rel} with the image's flags"
      VERBATIM)
    list(APPEND bitcode ${bc})
  endforeach()

  set(object ${dir}/image_flags.o)
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${NOTICE_BENCH_LD_LLD} -r ${bitcode} -o ${dir}/image_flags_global.o
    COMMAND ${NOTICE_BENCH_OBJCOPY} --keep-global-symbol=ImageFlagsConvertBmpToGopBlt
            --keep-global-symbol=ImageFlagsFormatTextList ${dir}/image_flags_global.o ${object}
    DEPENDS ${bitcode}
    COMMENT "Linking the decoder and the formatter built with the image's flags"
    VERBATIM)
  set(${OUTPUT_VAR} ${object} PARENT_SCOPE)
endfunction()
