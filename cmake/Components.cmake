# add_component(NAME
#   [DRIVER]              part of libveltrano.so
#   SOURCES ...           library sources
#   DEPS ...              libraries this component uses (public)
#   TESTS ...             unit test sources (foo_test.cpp beside foo.cpp)
#   TEST_DEPS ...         extra libraries for the unit tests
#   TEST_LABELS ...       extra ctest labels (default: unit))
#
# Every component is a static library of position-independent code; the ones
# marked DRIVER are linked whole into libveltrano.so, whose exports are fixed by
# src/driver/exports.map.
function(add_component NAME)
  cmake_parse_arguments(C "DRIVER;HEADER_ONLY" "" "SOURCES;DEPS;TESTS;TEST_DEPS;TEST_LABELS" ${ARGN})
  if(C_HEADER_ONLY OR NOT C_SOURCES)
    add_library(${NAME} INTERFACE)
    target_include_directories(${NAME} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${NAME} INTERFACE ${C_DEPS})
  else()
    add_library(${NAME} STATIC ${C_SOURCES})
    target_include_directories(${NAME} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
    target_link_libraries(${NAME} PUBLIC ${C_DEPS} Threads::Threads)
    set_target_properties(${NAME} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
    if(C_DRIVER)
      set_property(GLOBAL APPEND PROPERTY KORVELA_DRIVER_COMPONENTS ${NAME})
      set_property(GLOBAL APPEND PROPERTY KORVELA_DRIVER_COMPONENT_DEPS ${C_DEPS})
    endif()
  endif()
  if(C_TESTS AND KORVELA_BUILD_TESTS)
    add_executable(${NAME}_test ${C_TESTS})
    target_link_libraries(${NAME}_test PRIVATE ${NAME} ${C_TEST_DEPS} GTest::gmock GTest::gtest_main)
    set_property(GLOBAL APPEND PROPERTY KORVELA_UNIT_TEST_TARGETS ${NAME}_test)
    set(labels unit ${C_TEST_LABELS})
    gtest_discover_tests(${NAME}_test DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 30
      PROPERTIES LABELS "${labels}" TIMEOUT 120)
  endif()
endfunction()

# libveltrano.so: every DRIVER component linked whole, only the sixteen
# recorder-facing functions exported (version script).
function(korvela_add_driver_library)
  get_property(components GLOBAL PROPERTY KORVELA_DRIVER_COMPONENTS)
  get_property(component_deps GLOBAL PROPERTY KORVELA_DRIVER_COMPONENT_DEPS)
  set(map ${PROJECT_SOURCE_DIR}/src/driver/exports.map)
  add_library(veltrano SHARED ${PROJECT_SOURCE_DIR}/src/driver/library_init.cpp)
  target_include_directories(veltrano PRIVATE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/include)
  if(components)
    # A component another one depends on arrives through that dependency; naming
    # it again would put it twice into the link (duplicate symbols). Every
    # occurrence is linked whole.
    set(top ${components})
    if(component_deps)
      list(REMOVE_ITEM top ${component_deps})
    endif()
    target_link_libraries(veltrano PRIVATE ${top})
    foreach(c IN LISTS components)
      set_property(TARGET veltrano PROPERTY LINK_LIBRARY_OVERRIDE_${c} WHOLE_ARCHIVE)
    endforeach()
  endif()
  target_link_libraries(veltrano PRIVATE PkgConfig::PUGIXML Threads::Threads)
  target_link_options(veltrano PRIVATE "LINKER:--version-script=${map}")
  # clang leaves the sanitizer and coverage runtimes out of shared libraries:
  # the loading executable provides them, so the library cannot be complete.
  if(NOT (CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND CMAKE_CXX_FLAGS MATCHES "-fsanitize"))
    target_link_options(veltrano PRIVATE "LINKER:--no-undefined")
  endif()
  set_target_properties(veltrano PROPERTIES LINK_DEPENDS ${map} CXX_VISIBILITY_PRESET hidden)
endfunction()
