# The core's layers, each its own library, bottom first. A layer links only
# the layers below it, and compiles against an include root of its own that
# holds only its own folder and the folders below it: a layer that includes a
# header of a higher layer fails to compile ("No such file"), and one that
# calls into a higher layer fails to link.
#
# The include root of a layer is a folder of the build tree with one symbolic
# link per visible layer folder (layer_roots/link/{platform,ports,link} ->
# src/...). The sources keep their one tree and their "layer/unit.h" include
# names; only what each compile may see changes. Where the file system cannot
# make symbolic links, every layer falls back to the whole src/ root: the
# build still works, but unchecked, and the layer probes are left out.
#
# Why links rather than forwarding headers: the compiler, the debugger and
# the diagnostics see the one real file under its one include name, and a
# header that another change adds to a layer folder is visible at once,
# without a regeneration step.
#
# Order: the platform (events, time, serial ports, device map, message boxes;
# with the operating system's backend), the port table and USB port list
# (ports/ uses only the platform), the connection (link/), the file readers
# (firmware/), the programming engines (update/), the main window's model
# (app/). The in-memory line (platform/sim) is a library of its own, linked by
# the tests, the simulator and the demonstration rig only.
set(VT_LAYERS platform ports link firmware update app)

set(VT_LAYER_ROOTS_DIR ${CMAKE_BINARY_DIR}/layer_roots)
set(VT_LAYERS_ENFORCED ON)

# Makes (once per configure) the include root of the layer whose position in
# VT_LAYERS is index, and returns its path in out_var.
function(vt_layer_root index out_var)
  list(GET VT_LAYERS ${index} layer)
  set(root ${VT_LAYER_ROOTS_DIR}/${layer})
  file(MAKE_DIRECTORY ${root})
  foreach(i RANGE ${index})
    list(GET VT_LAYERS ${i} visible)
    set(link ${root}/${visible})
    if(IS_SYMLINK ${link})
      # A build tree that outlived a move of the sources points elsewhere.
      file(READ_SYMLINK ${link} target)
      if(NOT target STREQUAL ${PROJECT_SOURCE_DIR}/src/${visible})
        file(REMOVE ${link})
      endif()
    endif()
    if(NOT IS_SYMLINK ${link})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${visible} ${link}
           RESULT made SYMBOLIC)
      if(NOT made EQUAL 0)
        message(STATUS "No symbolic links here (${made}): the layers share the src/ include root")
        set(VT_LAYERS_ENFORCED OFF PARENT_SCOPE)
        set(${out_var} ${PROJECT_SOURCE_DIR}/src PARENT_SCOPE)
        return()
      endif()
    endif()
  endforeach()
  set(${out_var} ${root} PARENT_SCOPE)
endfunction()

set(below "")
list(LENGTH VT_LAYERS layer_count)
math(EXPR last_layer "${layer_count} - 1")
foreach(index RANGE ${last_layer})
  list(GET VT_LAYERS ${index} layer)
  # Non-recursive: the platform's backends live in subfolders and are added below.
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${layer}/*.cpp)
  add_library(vt${layer} STATIC ${sources})
  vt_layer_root(${index} root)
  target_include_directories(vt${layer} PUBLIC ${root})
  if(below)
    target_link_libraries(vt${layer} PUBLIC ${below})
  endif()
  set(below vt${layer})
endforeach()

# The operating system's backend belongs to the platform layer.
if(WIN32)
  file(GLOB VT_OS_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
else()
  file(GLOB VT_OS_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/posix/*.cpp)
endif()
target_sources(vtplatform PRIVATE ${VT_OS_SOURCES})
target_link_libraries(vtplatform PUBLIC Threads::Threads)

# The in-memory serial line: used by tests, benchmarks, the simulator and the demo.
file(GLOB VT_SIMLINE_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/sim/*.cpp)
add_library(vtsimline STATIC ${VT_SIMLINE_SOURCES})
target_link_libraries(vtsimline PUBLIC vtplatform)

# The whole core, for the front ends and the test programs.
add_library(vtcore INTERFACE)
target_link_libraries(vtcore INTERFACE vtapp)

# A probe per pair of layers: a one-line file in the lower layer that includes
# a header of the higher one, compiled with the lower layer's include flags,
# must fail for want of the header. The tests keep the build's word that
# includes point down only (tests/CMakeLists.txt adds them).
function(vt_add_layer_probes)
  if(MSVC OR NOT VT_LAYERS_ENFORCED)
    return()
  endif()
  set(probe_dir ${CMAKE_BINARY_DIR}/layer_probes)
  foreach(low RANGE ${last_layer})
    list(GET VT_LAYERS ${low} lower)
    math(EXPR first_high "${low} + 1")
    if(first_high GREATER last_layer)
      continue()
    endif()
    foreach(high RANGE ${first_high} ${last_layer})
      list(GET VT_LAYERS ${high} higher)
      file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR}/src/${higher}/*.h)
      list(SORT headers)
      list(GET headers 0 header)
      set(probe ${probe_dir}/${lower}_includes_${higher}.cpp)
      file(WRITE ${probe} "#include \"${header}\"\n")
      set(includes "$<TARGET_PROPERTY:vt${lower},INCLUDE_DIRECTORIES>")
      add_test(NAME layers.${lower}_cannot_include_${higher}
               COMMAND ${CMAKE_CXX_COMPILER} -std=c++20 -fsyntax-only
                       "$<$<BOOL:${includes}>:-I$<JOIN:${includes},;-I>>" ${probe}
               COMMAND_EXPAND_LISTS)
      string(REPLACE "." "\\." header_regex ${header})
      # Passes only on the missing header, not on any other failure.
      set_tests_properties(layers.${lower}_cannot_include_${higher} PROPERTIES
        PASS_REGULAR_EXPRESSION "${header_regex}'?:? (No such file|file not found)"
        LABELS layers)
    endforeach()
  endforeach()
endfunction()
