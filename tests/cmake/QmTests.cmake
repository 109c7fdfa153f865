# qm_add_gtests(LIB <libs...> [EXCLUDE <files...>]): every *_test.cpp of the calling
# folder (but the excluded ones, which the folder builds its own way) becomes its own
# GoogleTest executable linked against the given libraries, registered with ctest.
# Helpers shared by those tests live in *_util.cpp / *_util.h files of the same folder.
function(qm_add_gtests)
  cmake_parse_arguments(ARG "" "" "LIBS;LABELS;EXCLUDE" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM tests ${CMAKE_CURRENT_SOURCE_DIR}/${excluded})
  endforeach()
  file(GLOB utils CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*_util.cpp)
  get_filename_component(folder ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  if(utils)
    # Compiled once per folder, not once per test executable.
    set(utilLib ${folder}_test_utils)
    add_library(${utilLib} STATIC ${utils})
    target_link_libraries(${utilLib} PUBLIC ${ARG_LIBS} GTest::gtest GTest::gmock)
    target_include_directories(${utilLib} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${utilLib} PUBLIC
      QM_TEST_DATA="${QM_TEST_DATA_DIR}"
      QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      QM_CLI="${CMAKE_BINARY_DIR}/bin/quillmart-cli")
    set_target_properties(${utilLib} PROPERTIES AUTOMOC OFF)
  endif()
  foreach(src ${tests})
    get_filename_component(name ${src} NAME_WE)
    set(target ${folder}_${name})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE ${utilLib} ${ARG_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
    set_target_properties(${target} PROPERTIES AUTOMOC OFF)
    target_include_directories(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR})
    target_compile_definitions(${target} PRIVATE
      QM_TEST_DATA="${QM_TEST_DATA_DIR}"
      QM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
      QM_CLI="${CMAKE_BINARY_DIR}/bin/quillmart-cli")
    if(TARGET quillmart-cli)
      add_dependencies(${target} quillmart-cli)  # tests may drive the companion as a process
    endif()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES LABELS "${folder};${ARG_LABELS}")
  endforeach()
endfunction()
