# Host build: the driver as a library over the simulated platform, tests,
# fuzzers, benchmarks and tools.
if(NOTICE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
if(NOTICE_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# The simulated machine (sim/machine/): port devices, CPUID, the timestamp
# counter, MMIO stores, and the host side of the hardware seam. It links
# neither the driver nor the simulated firmware platform.
file(GLOB NOTICE_MACHINE_SOURCES CONFIGURE_DEPENDS sim/machine/*.cpp)
add_library(notice_machine STATIC ${NOTICE_MACHINE_SOURCES})
target_include_directories(notice_machine PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(notice_machine PRIVATE ${NOTICE_WARNINGS})

# The driver as a library; on the host its hardware seam is the simulated machine.
add_library(notice_driver STATIC ${NOTICE_DRIVER_SOURCES})
target_include_directories(notice_driver PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(notice_driver PRIVATE ${NOTICE_WARNINGS} -fno-exceptions -fno-rtti)
target_link_libraries(notice_driver PUBLIC notice_machine)

# The simulated firmware platform (tables, pool, events, devices) the driver runs on.
file(GLOB NOTICE_SIM_SOURCES CONFIGURE_DEPENDS sim/*.cpp)
add_library(notice_sim STATIC ${NOTICE_SIM_SOURCES})
target_include_directories(notice_sim PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(notice_sim PRIVATE ${NOTICE_WARNINGS})
target_link_libraries(notice_sim PUBLIC notice_driver notice_machine)

enable_testing()
find_package(GTest REQUIRED)
include(GoogleTest)

# One test program per folder under tests/.
file(GLOB NOTICE_TEST_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*)
foreach(dir ${NOTICE_TEST_DIRS})
  if(IS_DIRECTORY ${dir})
    get_filename_component(area ${dir} NAME)
    file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
    if(sources)
      add_executable(tests_${area} ${sources})
      target_compile_options(tests_${area} PRIVATE ${NOTICE_WARNINGS})
      target_link_libraries(tests_${area} PRIVATE notice_sim notice_driver GTest::gtest_main GTest::gmock)
      gtest_discover_tests(tests_${area} DISCOVERY_TIMEOUT 60)
    endif()
  endif()
endforeach()

# One fuzz target per file under fuzz/.
if(NOTICE_FUZZ)
  file(GLOB NOTICE_FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*.cpp)
  foreach(src ${NOTICE_FUZZ_SOURCES})
    get_filename_component(name ${src} NAME_WE)
    add_executable(fuzz_${name} ${src})
    target_link_libraries(fuzz_${name} PRIVATE notice_sim notice_driver)
    target_link_options(fuzz_${name} PRIVATE -fsanitize=fuzzer)
  endforeach()
endif()

# One benchmark program from the files under bench/ (not in sanitizer or fuzz
# builds). It measures the decoder and the formatter as this build compiles
# them and as the image's flags compile them, in one process.
find_package(benchmark QUIET)
if(benchmark_FOUND AND NOT NOTICE_SANITIZE AND NOT NOTICE_FUZZ)
  include(cmake/bench-image-flags.cmake)
  notice_image_flags_object(NOTICE_IMAGE_FLAGS_OBJECT)
  file(GLOB NOTICE_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
  add_executable(bench_notice ${NOTICE_BENCH_SOURCES} ${NOTICE_IMAGE_FLAGS_OBJECT})
  target_link_libraries(bench_notice PRIVATE notice_sim notice_driver benchmark::benchmark)
  if(NOTICE_IMAGE_FLAGS_OBJECT)
    target_compile_definitions(bench_notice PRIVATE NOTICE_BENCH_IMAGE_FLAGS=1)
  endif()
endif()

# Host tools, each in its own folder with its own CMakeLists.txt.
file(GLOB NOTICE_TOOL_DIRS LIST_DIRECTORIES true CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tools/*)
foreach(dir ${NOTICE_TOOL_DIRS})
  if(EXISTS ${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
