# tvl_library(NAME [EXCLUDE FILE ...] [DEPS ...]): a static library of every
# .cpp in the current folder but the EXCLUDEd ones.
function(tvl_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM srcs ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  if(NOT srcs)
    set(empty ${CMAKE_CURRENT_BINARY_DIR}/${name}_empty.cpp)
    file(WRITE ${empty} "// no sources yet\n")
    set(srcs ${empty})
  endif()
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# tvl_gtest(NAME SOURCES ... LIBS ...): a GoogleTest executable registered with CTest.
# ONE_PROCESS: the whole program is one CTest test (its tests share one process),
# for fixtures that start a whole instrument once.
function(tvl_gtest name)
  cmake_parse_arguments(ARG "ONE_PROCESS" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tvl_testsupport tvl_directconsole
                        GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(ARG_ONE_PROCESS)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 300)
  else()
    # The discovered tests get their labels from a script run after the
    # discovery's own: a list passed through PROPERTIES loses all but its
    # first element (its other elements are read as property names).
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 TEST_LIST ${name}_TESTS PROPERTIES TIMEOUT 300)
    set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
    file(WRITE ${labels_script}
      "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
  endif()
endfunction()
