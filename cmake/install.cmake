# How the module is shipped: the install tree that `cmake --install` lays out
# and the ZIP that CPack makes of it.
#
#   bin/ExecuteHDW.dll                     the module
#   lib/libExecuteHDW.dll.a                its import library
#   include/ExecuteHDW.h                   the declaration
#   lib/cmake/ExecuteHDW/                  package config and version file:
#                                          find_package(ExecuteHDW CONFIG)
#                                          gives ExecuteHDW::ExecuteHDW
#
# The ZIP also holds the sample hosts (bin/hdwcall.exe, bin/hdwdemo.exe), the
# sample companion (companion/KVT.exe) and README.md: they belong to the
# "samples" component, which a plain `cmake --install` leaves out (their
# install rules are in tools/CMakeLists.txt).
#
# Included from the top-level CMakeLists.txt once the module's target exists.
# The project's VERSION is the version of the package and of the ZIP.

include(CMakePackageConfigHelpers)

set(HDW_INSTALL_CMAKEDIR lib/cmake/ExecuteHDW)

# The header directory of the build tree must not end up in the installed
# target: an installed consumer finds the header under the install prefix.
set_property(TARGET ExecuteHDW PROPERTY INTERFACE_INCLUDE_DIRECTORIES
  $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:include>)

# The module's import library is the one MinGW ld writes with --out-implib
# while linking the module from module/ExecuteHDW.def, so it refers to the
# export by its name, as the module exports it.
install(TARGETS ExecuteHDW EXPORT ExecuteHDWTargets
  RUNTIME DESTINATION bin COMPONENT library
  ARCHIVE DESTINATION lib COMPONENT library)
install(FILES ${PROJECT_SOURCE_DIR}/include/ExecuteHDW.h
  DESTINATION include COMPONENT library)

install(EXPORT ExecuteHDWTargets
  NAMESPACE ExecuteHDW::
  FILE ExecuteHDWTargets.cmake
  DESTINATION ${HDW_INSTALL_CMAKEDIR}
  COMPONENT library)

set(HDW_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/ExecuteHDWConfig.cmake)
file(CONFIGURE OUTPUT ${HDW_CONFIG_FILE} @ONLY CONTENT [=[
# ExecuteHDW package: the imported target ExecuteHDW::ExecuteHDW, a 32-bit
# Windows DLL with its import library and header. Link it and include
# "ExecuteHDW.h"; ExecuteHDW.dll must be next to the program or on PATH when
# the program runs.
include("${CMAKE_CURRENT_LIST_DIR}/ExecuteHDWTargets.cmake")
]=])

# The version file also turns away a consumer whose pointers are not 32-bit:
# the module is a 32-bit DLL.
set(HDW_VERSION_FILE ${CMAKE_CURRENT_BINARY_DIR}/ExecuteHDWConfigVersion.cmake)
write_basic_package_version_file(${HDW_VERSION_FILE}
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)

install(FILES ${HDW_CONFIG_FILE} ${HDW_VERSION_FILE}
  DESTINATION ${HDW_INSTALL_CMAKEDIR} COMPONENT library)

install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION . COMPONENT samples EXCLUDE_FROM_ALL)

# The ZIP: ExecuteHDW-<version>-win32.zip in the build folder, one top-level
# folder of the same name holding the library and the samples.
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME ExecuteHDW)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "ExecuteHDW.dll: runs the KVT companion and returns its answer")
set(CPACK_PACKAGE_FILE_NAME ExecuteHDW-${PROJECT_VERSION}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
# One tree from both components (named one by one, since "samples" is not
# part of a plain install), packed as a whole.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};ExecuteHDW;library;/"
  "${CMAKE_BINARY_DIR};ExecuteHDW;samples;/")
include(CPack)
