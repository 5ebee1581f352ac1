# Adds every direct sub-folder of the current source folder that has a CMakeLists.txt.
function(tandor_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# tandor_add_test(NAME name SOURCES ... LIBS ... [QT] [LABELS ...] [TIMEOUT s])
# A GoogleTest executable run by CTest with an isolated environment: every test process gets its own
# temporary HOME, XDG_* and TANDOR_HOME from the shared test main (tests/support).
function(tandor_add_test)
  cmake_parse_arguments(T "QT" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  set_target_properties(${T_NAME} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_QT)
    target_link_libraries(${T_NAME} PRIVATE tandor_testmain_qt ${T_LIBS})
  else()
    target_link_libraries(${T_NAME} PRIVATE tandor_testmain ${T_LIBS})
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 600)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_brief=1)
  set_tests_properties(${T_NAME} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    LABELS "${T_LABELS}"
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()

# tandor_export_folder(<target> [PUBLIC|INTERFACE|PRIVATE])
# The include root of a library under src/: <target> and its dependants may include "<folder>/..." for
# the top folder of the calling CMakeLists under src/ (src/pages/unzip gives "pages") and nothing else
# of src/. The root is a folder of the build tree holding one link, <folder> -> src/<folder>; a library
# that needs another folder links that folder's library. tests/layers checks the result.
function(tandor_export_folder target)
  set(scope PUBLIC)
  if(ARGC GREATER 1)
    set(scope ${ARGV1})
  endif()
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/src ${CMAKE_CURRENT_SOURCE_DIR})
  string(REGEX REPLACE "/.*" "" folder "${rel}")
  if(folder STREQUAL "" OR folder MATCHES "^\\.\\.")
    message(FATAL_ERROR "tandor_export_folder: ${CMAKE_CURRENT_SOURCE_DIR} is not a folder under src/")
  endif()
  set(root ${CMAKE_BINARY_DIR}/include-roots/${folder})
  if(NOT IS_SYMLINK ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# Conversions that may change a value (a 64-bit size into an int, a double into an integer) are
# errors in the calling folder and below it.
function(tandor_strict_conversions)
  add_compile_options(-Wconversion -Wno-sign-conversion)
endfunction()
