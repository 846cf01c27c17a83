# Helpers shared by every CMakeLists.txt: source collection, unity batches, precompiled headers.

# Every library collects the sources below its folders (sub-folders included), so adding
# a file needs no edit of a CMakeLists.txt.
function(xvelm_sources out)
  set(files)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*.cpp)
    list(APPEND files ${found})
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Unity batches of a target: the sources of one folder, at most CMAKE_UNITY_BUILD_BATCH_SIZE
# to a batch and the folder's sources spread evenly over its batches. A batch never mixes
# folders, so a name clash stays between sources of one folder, and a file added to one
# folder leaves the batches of the others as they were. Call it where the target is made.
# The number of object files the target compiles is left in its property XVELM_OBJECT_FILES.
function(xvelm_unity target)
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.cpp$")
  list(LENGTH sources objects)
  if(NOT CMAKE_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES XVELM_OBJECT_FILES ${objects})
    return()
  endif()
  set(dirs)
  foreach(src IN LISTS sources)
    get_source_file_property(skip ${src} SKIP_UNITY_BUILD_INCLUSION)
    if(skip)
      continue()
    endif()
    math(EXPR objects "${objects} - 1")
    get_filename_component(dir ${src} DIRECTORY)
    string(MAKE_C_IDENTIFIER "${dir}" key)
    if(NOT DEFINED count_${key})
      set(count_${key} 0)
      list(APPEND dirs ${dir})
    endif()
    math(EXPR count_${key} "${count_${key}} + 1")
    list(APPEND files_${key} ${src})
  endforeach()
  set(size ${CMAKE_UNITY_BUILD_BATCH_SIZE})
  set(group 0)
  foreach(dir IN LISTS dirs)
    string(MAKE_C_IDENTIFIER "${dir}" key)
    set(n ${count_${key}})
    if(size GREATER 0)
      math(EXPR batches "(${n} + ${size} - 1) / ${size}")
    else()
      set(batches 1)
    endif()
    set(i 0)
    foreach(src IN LISTS files_${key})
      math(EXPR batch "${group} + ${i} * ${batches} / ${n}")
      set_source_files_properties(${src} PROPERTIES UNITY_GROUP "batch_${batch}")
      math(EXPR i "${i} + 1")
    endforeach()
    math(EXPR group "${group} + ${batches}")
  endforeach()
  math(EXPR objects "${objects} + ${group}")
  set_target_properties(${target} PROPERTIES UNITY_BUILD_MODE GROUP XVELM_OBJECT_FILES ${objects})
endfunction()

# Precompiled headers. Each target that calls this reads the standard library headers
# most sources use (and any headers given) once, from a precompiled header, instead of
# once per batch. -DCMAKE_DISABLE_PRECOMPILE_HEADERS=ON turns them off.
set(XVELM_PCH_STD <algorithm> <cmath> <cstring> <functional> <map> <memory> <string>
    <unordered_map> <vector>)
function(xvelm_pch target)
  target_precompile_headers(${target} PRIVATE ${XVELM_PCH_STD} ${ARGN})
endfunction()

# One precompiled header for every test program: the standard library and GoogleTest. It
# belongs to an object library of its own, compiled like the test programs (position
# independent executable code), so that no test program waits for another to share it.
function(xvelm_test_pch_owner name)
  if(NOT EXISTS ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
    file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp "// Owner of the test programs' precompiled header.\n")
  endif()
  add_library(${name} OBJECT ${CMAKE_CURRENT_BINARY_DIR}/${name}.cpp)
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE OFF)
  target_compile_options(${name} PRIVATE -fPIE)
  target_link_libraries(${name} PRIVATE GTest::gtest)
  target_precompile_headers(${name} PRIVATE ${XVELM_PCH_STD} <gtest/gtest.h>)
endfunction()
