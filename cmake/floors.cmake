# The folders are floors (docs/architecture.md): each is a library that
# compiles against an include view holding only the folders it may use, and
# depends on nothing but the floors below it. So an #include from a floor
# above does not compile; tests/floors.sh says the same over #include lines,
# and tests/floors_build.sh proves the views refuse.

set(HADROK_FLOOR_VIEWS ${CMAKE_BINARY_DIR}/floors)

# hadrok_include_view(FLOOR [FOLDER...] [HEADERS HEADER...])
# Makes ${HADROK_FLOOR_VIEWS}/FLOOR: symbolic links to the folder FLOOR, to
# each FOLDER and to each single HEADER, all named from the repository root
# as the sources write them ("registry/freq_record.h"). Made anew at each
# configure, so a folder taken out of the rules is gone from the view.
function(hadrok_include_view floor)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS")
  set(view ${HADROK_FLOOR_VIEWS}/${floor})
  # Removes the links, never what they point to.
  file(REMOVE_RECURSE ${view})
  file(MAKE_DIRECTORY ${view})
  foreach(folder IN ITEMS ${floor} ${arg_UNPARSED_ARGUMENTS})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${view}/${folder} SYMBOLIC)
  endforeach()
  foreach(header IN LISTS arg_HEADERS)
    get_filename_component(directory ${header} DIRECTORY)
    file(MAKE_DIRECTORY ${view}/${directory})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${header} ${view}/${header} SYMBOLIC)
  endforeach()
endfunction()

# What every piece of the plug-in and the program is built with.
function(hadrok_code_settings target)
  # Hidden visibility keeps everything but talk out of the plug-in's exports.
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden
                                              VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND NOT WIN32)
    # Unique symbols would pin the plug-in in memory after dlclose.
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
endfunction()

# hadrok_floor(TARGET FLOOR SOURCE...): the floor's static library, compiled
# against its view (made by hadrok_include_view first) and the generated
# headers (the version).
function(hadrok_floor target floor)
  add_library(${target} STATIC ${ARGN})
  target_include_directories(${target} PRIVATE ${HADROK_FLOOR_VIEWS}/${floor}
                                               ${CMAKE_BINARY_DIR}/generated)
  hadrok_code_settings(${target})
endfunction()

# hadrok_layer(TARGET FLOOR SOURCE...): one of the link-time choices of the
# platform floor (files or clocks, of a system or fake). An object library:
# its code is linked whole into the program that names it, wherever it comes
# on the link line, and two layers of one kind linked together clash.
function(hadrok_layer target floor)
  add_library(${target} OBJECT ${ARGN})
  target_include_directories(${target} PRIVATE ${HADROK_FLOOR_VIEWS}/${floor})
  hadrok_code_settings(${target})
endfunction()

# The sources of a folder that serve every system, then those of this one:
# name_posix.cpp or name_windows.cpp.
function(hadrok_folder_sources variable folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  list(FILTER sources EXCLUDE REGEX "_(posix|windows)\\.cpp$")
  if(WIN32)
    file(GLOB own CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*_windows.cpp)
  else()
    file(GLOB own CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*_posix.cpp)
  endif()
  set(${variable} ${sources} ${own} PARENT_SCOPE)
endfunction()
