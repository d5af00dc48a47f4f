# The third-party headers of hadrok.exe for the Windows build, included from
# the top CMakeLists.txt.
#
# CLI11, nlohmann-json and fmt are header-only here (fmt with FMT_HEADER_ONLY),
# so the build machine's copies serve the cross build as well. Only those
# three directories are copied into the build tree: putting the build
# machine's whole include directory on the path would bring in its C library's
# headers.
set(HADROK_THIRD_PARTY_INCLUDE ${CMAKE_BINARY_DIR}/third-party/include)
foreach(header CLI/CLI.hpp nlohmann/json.hpp fmt/format.h)
  string(MAKE_C_IDENTIFIER ${header} variable)
  find_path(HADROK_HEADER_${variable} ${header}
    PATHS /usr/include /usr/local/include NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT HADROK_HEADER_${variable})
    message(FATAL_ERROR "${header} not found: install libcli11-dev, nlohmann-json3-dev and "
                        "libfmt-dev (bash scripts/install-deps windows)")
  endif()
  get_filename_component(directory ${header} DIRECTORY)
  file(COPY ${HADROK_HEADER_${variable}}/${directory} DESTINATION ${HADROK_THIRD_PARTY_INCLUDE})
endforeach()

# Every floor of the program (cli/ and what stands on it) gets them through
# this target.
add_library(program_third_party INTERFACE)
target_include_directories(program_third_party SYSTEM INTERFACE ${HADROK_THIRD_PARTY_INCLUDE})
target_compile_definitions(program_third_party INTERFACE FMT_HEADER_ONLY)
# g++ 12 for 32-bit targets warns falsely about overlapping copies in
# "text" + std::to_string(n) (GCC bug 105651).
target_compile_options(program_third_party INTERFACE -Wno-restrict)
