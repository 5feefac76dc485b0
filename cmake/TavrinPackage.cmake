# What the SDK installs, and the packages made of it (cpack: a tarball on Linux, a zip on
# Windows):
#   bin/       the tool tavrin and the simulator tavrin-sim; on Windows also Tavrin.dll, the
#              bridge TavrinDll.dll and the browser control TavrinOcx.dll
#   lib/       the library and the bridge (Linux: libTavrin.so.MAJOR.MINOR.PATCH and
#              libTavrinDll.so.MAJOR.MINOR.PATCH, their soname links and development links;
#              Windows: the import libraries libTavrin.dll.a, libTavrinDll.dll.a and the .def
#              files), the pkg-config file pkgconfig/tavrin.pc, the CMake package cmake/Tavrin
#              (find_package(Tavrin) gives Tavrin::Tavrin and Tavrin::Bridge), the Python module
#   include/   tavrin/tavrin.h, tavrin/tavrin_exports.h, tavrin/bridge.h, tavrin/bridge_exports.h
#   share/doc/Tavrin/README.md
include(CMakePackageConfigHelpers)

install(FILES ${PROJECT_SOURCE_DIR}/include/tavrin/tavrin.h ${PROJECT_SOURCE_DIR}/include/tavrin/tavrin_exports.h
              ${PROJECT_SOURCE_DIR}/include/tavrin/bridge.h ${PROJECT_SOURCE_DIR}/include/tavrin/bridge_exports.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavrin)
install(TARGETS tavrin tavrin-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  # The installed tool finds the library of its own prefix.
  set_target_properties(tavrin PROPERTIES INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(TAVRIN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Tavrin)
install(EXPORT TavrinTargets NAMESPACE Tavrin:: DESTINATION ${TAVRIN_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TavrinConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package-config/TavrinConfig.cmake INSTALL_DESTINATION ${TAVRIN_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package-config/TavrinConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package-config/TavrinConfig.cmake
              ${CMAKE_BINARY_DIR}/package-config/TavrinConfigVersion.cmake
        DESTINATION ${TAVRIN_CMAKE_DIR})

# The pkg-config file names its folders relative to its own, so that an installed tree (or an
# unpacked package) can be moved.
file(RELATIVE_PATH TAVRIN_PC_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" TAVRIN_PC_PREFIX "${TAVRIN_PC_PREFIX}")
# The Linux library needs libxml2 (its soname names it, so a program linked to the shared library
# needs nothing more); a static link would have to add it.
if(WIN32)
  set(TAVRIN_PC_LIBS_PRIVATE "")
else()
  set(TAVRIN_PC_LIBS_PRIVATE "Libs.private: -lxml2")
endif()
configure_file(${PROJECT_SOURCE_DIR}/cmake/tavrin.pc.in ${CMAKE_BINARY_DIR}/package-config/tavrin.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package-config/tavrin.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(CPACK_PACKAGE_NAME Tavrin)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_SOURCE_GENERATOR "")
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME windows-x86)
  else()
    set(CPACK_SYSTEM_NAME windows-x64)
  endif()
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME Tavrin-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
