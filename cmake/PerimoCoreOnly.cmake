# The plain C++ libraries and their unit tests, without Qt, the agent program or the tools'
# user interfaces: what runs on a panel PC of another processor. Included from the top level
# when PERIMO_CORE_ONLY is on; the cross builds (cmake/toolchain-*.cmake) use it.
find_package(Threads REQUIRED)
find_package(OpenSSL REQUIRED)

include(cmake/PerimoHelpers.cmake)

add_subdirectory(src/platform)
add_subdirectory(src/formats)
add_subdirectory(src/security)
add_subdirectory(src/dataprot)
add_subdirectory(src/protocol)
add_subdirectory(src/transport/codec)
add_subdirectory(src/transport/serial)
add_subdirectory(src/transport/seriallink)
add_subdirectory(src/log)

if(NOT PERIMO_TESTS)
  return()
endif()

# GoogleTest from Debian's source package, built with the target's compiler. Its sources are
# not held to this project's warning flags.
set(GTEST_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(lib gtest gtest_main gmock gmock_main)
  target_compile_options(${lib} PRIVATE -w)
  if(NOT TARGET GTest::${lib})
    add_library(GTest::${lib} ALIAS ${lib})
  endif()
endforeach()

enable_testing()
set(tests ${PROJECT_SOURCE_DIR}/tests)
perimo_test_suite(platform_tests ${tests}/platform DEPS perimo_platform)
perimo_test_suite(formats_tests ${tests}/formats DEPS perimo_formats)
perimo_test_suite(security_tests ${tests}/security DEPS perimo_security OpenSSL::Crypto)
perimo_test_suite(dataprot_tests ${tests}/dataprot DEPS perimo_dataprot)
perimo_test_suite(protocol_tests ${tests}/protocol DEPS perimo_protocol)
perimo_test_suite(codec_tests ${tests}/transport/codec DEPS perimo_codec)
perimo_test_suite(serial_tests ${tests}/transport/serial DEPS perimo_serial)
add_library(perimo_fake_serial STATIC ${tests}/transport/serial/fake_serial_device.cpp)
target_include_directories(perimo_fake_serial PUBLIC ${PROJECT_SOURCE_DIR}/src ${tests})
target_link_libraries(perimo_fake_serial PUBLIC perimo_serial)
perimo_test_suite(seriallink_tests ${tests}/transport/seriallink
  DEPS perimo_seriallink perimo_fake_serial)
perimo_test_suite(log_tests ${tests}/log DEPS perimo_log)

# The data protection library the runtime commands' tests load.
add_library(perimo-test-dataprot SHARED ${tests}/e2e/fakes/test_data_protection.cpp)
set_target_properties(perimo-test-dataprot
  PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin PREFIX "")
add_dependencies(protocol_tests perimo-test-dataprot)

# Under qemu-user, tests of what the emulator does not reproduce are left out:
# - a failed start of a program (missing, not executable) reports success: qemu runs
#   posix_spawn's CLONE_VM|CLONE_VFORK child as a fork, so the child's exec error never
#   reaches the parent (ProcessTest.MissingOrUnrunnableProgramsFail,
#   RuntimeCommandsTest.StartAndStopRefuseWithoutTheRunStopRightAndWithoutPause);
# - the termios2 ioctls (TCGETS2/TCSETS2) that set rates outside the B-constants are not
#   emulated (PosixSerialDevice.EveryRateOfTheTableIsSet);
# - the wait for an empty transmit buffer is bounded by the line's character times, which an
#   emulated pseudo-terminal on a busy machine overruns now and then
#   (PosixSerialDevice.BytesTravelBothWays; it runs natively in make test).
if(CMAKE_CROSSCOMPILING_EMULATOR)
  set(qemu_skips
    ProcessTest.MissingOrUnrunnableProgramsFail
    RuntimeCommandsTest.StartAndStopRefuseWithoutTheRunStopRightAndWithoutPause
    PosixSerialDevice.EveryRateOfTheTableIsSet
    PosixSerialDevice.BytesTravelBothWays)
  list(JOIN qemu_skips ":" qemu_filter)
  get_property(all_tests DIRECTORY PROPERTY TESTS)
  foreach(t IN LISTS all_tests)
    set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=-${qemu_filter}")
  endforeach()
endif()
