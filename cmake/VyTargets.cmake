# vy_role_library(<target> [SOURCE_ROOT <dir>] [INCLUDE_ROOT <dir>] [DEPS ...] [PRIVATE_DEPS ...])
# A static library made of every .c/.cpp below SOURCE_ROOT (default: src/ of the
# calling directory), whose headers are included relative to INCLUDE_ROOT
# (default: SOURCE_ROOT). With no sources yet it is an INTERFACE library, so
# that a role can exist before its first file lands.
function(vy_role_library target)
  cmake_parse_arguments(ARG "" "SOURCE_ROOT;INCLUDE_ROOT" "DEPS;PRIVATE_DEPS" ${ARGN})
  set(source_root ${CMAKE_CURRENT_SOURCE_DIR}/src)
  if(ARG_SOURCE_ROOT)
    set(source_root ${ARG_SOURCE_ROOT})
  endif()
  if(NOT ARG_INCLUDE_ROOT)
    set(ARG_INCLUDE_ROOT ${source_root})
  endif()
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${source_root}/*.cpp ${source_root}/*.c)
  if(sources)
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC ${ARG_INCLUDE_ROOT})
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} Threads::Threads PRIVATE ${ARG_PRIVATE_DEPS})
  else()
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${ARG_INCLUDE_ROOT})
    target_link_libraries(${target} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()

set(VY_TEST_TIMEOUT 180 CACHE STRING "Seconds a single test may run before CTest stops it")
set(VY_TEST_TIME_FACTOR 1 CACHE STRING
  "How much slower than a plain build this build runs: tests stretch their waits and the deadlines they set by it")

# vy_test_timeout(<out> [<seconds>])
# The time-out of a test in this build: <seconds> (default VY_TEST_TIMEOUT) times
# VY_TEST_TIME_FACTOR, since the test's own waits stretch by that factor too.
function(vy_test_timeout out)
  set(seconds ${VY_TEST_TIMEOUT})
  if(ARGC GREATER 1)
    set(seconds ${ARGV1})
  endif()
  math(EXPR seconds "${seconds} * ${VY_TEST_TIME_FACTOR}")
  set(${out} ${seconds} PARENT_SCOPE)
endfunction()

# vy_test_suite(<name> LABEL <label> [TIMEOUT <seconds>] DEPS <targets>...)
# One GoogleTest executable of every .cpp in the calling directory, each test
# registered with CTest under the label. Every test has a time-out of its own
# (vy_test_timeout of TIMEOUT), so that a hang fails the test in minutes.
function(vy_test_suite name)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "DEPS" ${ARGN})
  vy_test_timeout(timeout ${ARG_TIMEOUT})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${name} ${sources})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  gtest_discover_tests(${name}
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${timeout}
      ENVIRONMENT "VY_TEST_TIME_FACTOR=${VY_TEST_TIME_FACTOR}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# vy_add_child_directories()
# add_subdirectory() for every folder right below the calling directory that has its own
# CMakeLists.txt, in name order, so that a new stand-in, test folder or benchmark needs no
# line in its parent.
function(vy_add_child_directories)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(child IN LISTS children)
    if(EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()
