# tavrin_add_deliverable(NAME
#     EXPORTS <list>            the export list: a header of entries PREFIX(name, stack bytes, ...)
#     EXPORT_PREFIX <prefix>    what precedes each entry's name in the exported name ("dllFunc_")
#     [SOURCES ...]             sources of the shared library itself (entry points)
#     [WHOLE_ARCHIVE ...]       static libraries whose every object goes in
#     [LIBRARIES ...]           further private link libraries
#     [DESCRIPTION <text>]      the file description of the Windows version resource
#     [EXPORT_NAME <name>])     its name in the CMake package (Tavrin::<name>; default NAME)
#
# One shared library that the SDK ships, built the same way for every deliverable:
# - only the functions of the export list are exported (hidden visibility by default; Linux: a
#   version script; Windows: a module-definition file written from the list);
# - Linux: a versioned soname (libNAME.so.MAJOR -> libNAME.so.MAJOR.MINOR.PATCH, with the
#   unversioned link for development);
# - Windows: NAME.dll under its plain name with the ordinals of the list's order, the runtime
#   linked statically, a version resource, and the import library libNAME.dll.a; on 32-bit the __stdcall names are exported undecorated
#   (--kill-at) and dlltool writes the import library that maps the decorated names to them;
# - after each link the exports, the imports and (Windows) the import library are checked
#   (scripts/check-win32-dll.sh, scripts/check-linux-so.sh): a deliverable that exports more or
#   less than its list, or needs a DLL that is not the system's own, fails the build;
# - install rules into the export set TavrinTargets (bin/, lib/; on Windows also the .def file).
#
# The entries' names, stack bytes and order are read from the list at configure time; changing the
# list configures again.

include_guard(GLOBAL)
include(GNUInstallDirs)

set(TAVRIN_DELIVERABLE_DIR ${CMAKE_CURRENT_LIST_DIR})

# tavrin_read_export_list(<list file> <prefix> <names variable> <bytes variable>)
# The exported names (prefix + entry name) and their stack bytes, in the list's order.
function(tavrin_read_export_list file prefix names_var bytes_var)
  file(STRINGS ${file} entries REGEX "^[A-Z][A-Z0-9_]*_FUNCTION\\([A-Za-z_][A-Za-z0-9_]*, *[0-9]+,")
  set(names "")
  set(bytes "")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "^[A-Z][A-Z0-9_]*_FUNCTION\\(([A-Za-z_][A-Za-z0-9_]*), *([0-9]+)," _ "${entry}")
    list(APPEND names "${prefix}${CMAKE_MATCH_1}")
    list(APPEND bytes "${CMAKE_MATCH_2}")
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "${file} lists no exports")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
  set(${names_var} "${names}" PARENT_SCOPE)
  set(${bytes_var} "${bytes}" PARENT_SCOPE)
endfunction()

function(tavrin_add_deliverable name)
  cmake_parse_arguments(D "" "EXPORTS;EXPORT_PREFIX;DESCRIPTION;EXPORT_NAME" "SOURCES;WHOLE_ARCHIVE;LIBRARIES" ${ARGN})
  if(NOT D_EXPORTS)
    message(FATAL_ERROR "tavrin_add_deliverable(${name}): EXPORTS names no export list")
  endif()
  if(NOT D_DESCRIPTION)
    set(D_DESCRIPTION "${name}")
  endif()
  get_filename_component(list_file ${D_EXPORTS} ABSOLUTE)
  tavrin_read_export_list(${list_file} "${D_EXPORT_PREFIX}" export_names export_bytes)
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/${name}-deliverable)
  file(MAKE_DIRECTORY ${gen})

  add_library(${name} SHARED ${D_SOURCES})
  foreach(archive IN LISTS D_WHOLE_ARCHIVE)
    target_link_libraries(${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,${archive}>")
  endforeach()
  target_link_libraries(${name} PRIVATE ${D_LIBRARIES})
  set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET hidden CXX_VISIBILITY_PRESET hidden
                                           VISIBILITY_INLINES_HIDDEN ON)
  if(D_EXPORT_NAME)
    set_target_properties(${name} PROPERTIES EXPORT_NAME ${D_EXPORT_NAME})
  endif()
  set(check_script "")

  if(WIN32)
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
    # The module-definition file names the exports; on 32-bit Windows the __stdcall names carry
    # their stack bytes, which --kill-at strips from the exported names (the import library keeps
    # them).
    # Ordinals follow the list's order.
    set(def_text "LIBRARY ${name}.dll\nEXPORTS\n")
    set(ordinal 0)
    foreach(export_name export_size IN ZIP_LISTS export_names export_bytes)
      math(EXPR ordinal "${ordinal} + 1")
      if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        string(APPEND def_text "    ${export_name}@${export_size} @${ordinal}\n")
      else()
        string(APPEND def_text "    ${export_name} @${ordinal}\n")
      endif()
    endforeach()
    set(def_file ${gen}/${name}.def)
    file(CONFIGURE OUTPUT ${def_file} CONTENT "${def_text}" @ONLY)
    target_sources(${name} PRIVATE ${def_file})
    target_link_options(${name} PRIVATE -static)

    # The version resource: the same version as the header, the file names and the description.
    set(TAVRIN_RC_NAME ${name})
    set(TAVRIN_RC_DESCRIPTION "${D_DESCRIPTION}")
    configure_file(${TAVRIN_DELIVERABLE_DIR}/version.rc.in ${gen}/${name}_version.rc @ONLY)
    target_sources(${name} PRIVATE ${gen}/${name}_version.rc)

    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      target_link_options(${name} PRIVATE -Wl,--kill-at)
      # The linker's import library would name the plain symbols; callers compiled against the
      # header reference the decorated ones. dlltool writes one that maps those to the plain
      # exports.
      find_program(TAVRIN_DLLTOOL NAMES ${TAVRIN_MINGW_TRIPLE}-dlltool REQUIRED)
      add_custom_command(TARGET ${name} POST_BUILD
        COMMAND ${TAVRIN_DLLTOOL} -k -d ${def_file} -D ${name}.dll -l $<TARGET_LINKER_FILE:${name}>
        VERBATIM)
    endif()
    if(CMAKE_HOST_UNIX)
      set(check_script ${PROJECT_SOURCE_DIR}/scripts/check-win32-dll.sh)
      set(check_args --prefix "${D_EXPORT_PREFIX}" $<TARGET_FILE:${name}> ${list_file}
                     $<TARGET_LINKER_FILE:${name}>)
    endif()
    install(FILES ${def_file} DESTINATION ${CMAKE_INSTALL_LIBDIR})
  else()
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
    # Only the listed functions leave the library, whatever the objects inside declare.
    set(script_text "{\n  global:\n")
    foreach(export_name IN LISTS export_names)
      string(APPEND script_text "    ${export_name};\n")
    endforeach()
    string(APPEND script_text "  local:\n    *;\n};\n")
    set(version_script ${gen}/${name}.map)
    file(CONFIGURE OUTPUT ${version_script} CONTENT "${script_text}" @ONLY)
    target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--version-script=${version_script})
    set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${version_script})
    set(check_script ${PROJECT_SOURCE_DIR}/scripts/check-linux-so.sh)
    set(check_args --prefix "${D_EXPORT_PREFIX}" $<TARGET_FILE:${name}> ${list_file})
  endif()

  if(check_script)
    add_custom_command(TARGET ${name} POST_BUILD
      COMMAND bash ${check_script} ${check_args}
      VERBATIM)
  endif()

  install(TARGETS ${name} EXPORT TavrinTargets
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endfunction()
