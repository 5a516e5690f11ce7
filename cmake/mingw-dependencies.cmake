# Dependencies of the Windows cross-build. Debian ships no mingw builds of fmt or
# GoogleTest, so fmt is used header-only and GoogleTest is compiled from its
# source with the same toolchain; nlohmann-json is header-only anyway.
set(REELMENDER_HOST_INCLUDE /usr/include CACHE PATH "Folder that holds the fmt/ and nlohmann/ headers")
set(REELMENDER_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")

# Only the two library folders are exposed: the host's include folder as a whole
# would put Linux C headers in front of the Windows ones.
set(host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${host_headers})
foreach(library fmt nlohmann)
  if(NOT EXISTS ${REELMENDER_HOST_INCLUDE}/${library})
    message(FATAL_ERROR "${REELMENDER_HOST_INCLUDE}/${library} is missing (install libfmt-dev and nlohmann-json3-dev)")
  endif()
  if(NOT EXISTS ${host_headers}/${library})
    file(CREATE_LINK ${REELMENDER_HOST_INCLUDE}/${library} ${host_headers}/${library} SYMBOLIC)
  endif()
endforeach()

add_library(reelmender_fmt_headers INTERFACE)
target_include_directories(reelmender_fmt_headers SYSTEM INTERFACE ${host_headers})
target_compile_definitions(reelmender_fmt_headers INTERFACE FMT_HEADER_ONLY=1)
add_library(fmt::fmt ALIAS reelmender_fmt_headers)

add_library(reelmender_json_headers INTERFACE)
target_include_directories(reelmender_json_headers SYSTEM INTERFACE ${host_headers})
add_library(nlohmann_json::nlohmann_json ALIAS reelmender_json_headers)

if(REELMENDER_TESTS)
  if(NOT EXISTS ${REELMENDER_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "${REELMENDER_GTEST_SOURCE} is missing (install googletest)")
  endif()
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  # GoogleTest is third-party code: build it without our warning flags.
  get_directory_property(saved_options COMPILE_OPTIONS)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "")
  add_subdirectory(${REELMENDER_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${saved_options}")
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endif()
