# Installing and packaging: the five programs and the sample sender, their
# manual pages, the README and the licence. A Debian package on Linux; a zip on
# Windows, named win32 or win64 after the build, with the pages as plain text.
include(GNUInstallDirs)

set(installed_programs blockmeter blockmeter-report middleware getter sender vizuzariz)
# Without its JSON library the report is not built (report/CMakeLists.txt says
# so); the rest still installs.
if(NOT TARGET blockmeter-report)
  list(REMOVE_ITEM installed_programs blockmeter-report)
endif()
set(manual_page_names ${installed_programs})
set(manual_page_sources)
foreach(name ${manual_page_names})
  list(APPEND manual_page_sources ${PROJECT_SOURCE_DIR}/man/${name}.1)
endforeach()

# The relay's programs have generic names and find one another in the current
# directory, so on Linux they keep to a folder of their own, off the command
# path; the zips keep every program in bin.
set(relay_programs middleware getter sender)
if(WIN32)
  set(relay_program_dir ${CMAKE_INSTALL_BINDIR})
else()
  set(relay_program_dir ${CMAKE_INSTALL_LIBEXECDIR}/blockmeter-tools/relay)
endif()
set(path_programs ${installed_programs})
list(REMOVE_ITEM path_programs ${relay_programs})
install(TARGETS ${path_programs} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${relay_programs} RUNTIME DESTINATION ${relay_program_dir})

set(CPACK_PACKAGE_NAME blockmeter-tools)
set(CPACK_PACKAGE_VENDOR "The blockmeter maintainers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "raw volume read benchmark and its report, pipe relay and two-thread console demo")
set(CPACK_PACKAGE_DESCRIPTION
    "blockmeter measures how fast a volume can be read raw, past the system's\n"
    "cache: a sequential sweep of read sizes and random single-block reads.\n"
    "blockmeter-report turns its results into CSV, JSON, a chart of both\n"
    "curves (SVG or an HTML page) and the figures they imply.\n"
    "middleware and getter, with a sample sender, relay one chunk of bytes from\n"
    "one process to another through two anonymous pipes. vizuzariz shows two\n"
    "threads printing numbered lines to one console at once.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
# The binaries are built with debugging information; the packages need none.
set(CPACK_STRIP_FILES ON)

# The pages are built into the build tree by the manual_pages target (part of
# the default build), in the form the package wants.
set(manual_page_dir ${PROJECT_BINARY_DIR}/man)
set(built_manual_pages)

# Makes each page into man/NAME<suffix> in the build tree with a shell
# pipeline that reads "$0" and writes "$1"; sets built_manual_pages.
function(add_manual_page_rules suffix pipeline comment)
  set(outputs)
  foreach(name ${manual_page_names})
    set(output ${manual_page_dir}/${name}${suffix})
    add_custom_command(
      OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${manual_page_dir}
      COMMAND sh -c "${pipeline}" ${PROJECT_SOURCE_DIR}/man/${name}.1 ${output}
      DEPENDS ${PROJECT_SOURCE_DIR}/man/${name}.1
      COMMENT "${comment} ${name}(1)"
      VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  set(built_manual_pages ${outputs} PARENT_SCOPE)
endfunction()

if(WIN32)
  # Windows has no man: the pages go in the zip as plain text, rendered here on
  # the build host. Without groff the roff sources are shipped instead.
  find_program(GROFF_PROGRAM groff)
  find_program(COL_PROGRAM col)
  if(GROFF_PROGRAM AND COL_PROGRAM)
    # ASCII with no bold or underline: readable in any Windows text viewer.
    add_manual_page_rules(.txt
      "'${GROFF_PROGRAM}' -man -Tascii -rcR=1 -P-cbou -ww \"$0\" | '${COL_PROGRAM}' -bx > \"$1\""
      "Rendering as text the manual page")
  else()
    message(WARNING "groff or col not found: the Windows package carries the manual pages as roff sources")
    set(built_manual_pages ${manual_page_sources})
  endif()
  install(FILES ${built_manual_pages} DESTINATION doc)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)

  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
else()
  # Debian ships manual pages compressed.
  find_program(GZIP_PROGRAM gzip)
  if(GZIP_PROGRAM)
    # -n keeps the time stamp out, so the same page gives the same bytes.
    add_manual_page_rules(.1.gz "'${GZIP_PROGRAM}' -9 -n -c \"$0\" > \"$1\"" "Compressing the manual page")
  else()
    set(built_manual_pages ${manual_page_sources})
  endif()
  install(FILES ${built_manual_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})

  # The licence in Debian's machine-readable copyright format, and the changelog
  # in Debian's format, compressed as the manual pages are (the package is its
  # own upstream, so the file is changelog.gz).
  set(changelog ${PROJECT_SOURCE_DIR}/packaging/changelog)
  if(GZIP_PROGRAM)
    set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
    add_custom_command(
      OUTPUT ${changelog}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
      COMMAND sh -c "'${GZIP_PROGRAM}' -9 -n -c \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/packaging/changelog ${changelog}
      DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog
      COMMENT "Compressing the Debian changelog"
      VERBATIM)
    add_custom_target(debian_changelog ALL DEPENDS ${changelog})
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${changelog}
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_PACKAGE_NAME})
  # lintian's notes that are intended, each with its reason.
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides
          DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${CPACK_PACKAGE_NAME})

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(BLOCKMETER_PACKAGE_MAINTAINER "The blockmeter maintainers <blockmeter-maintainers@example.org>"
      CACHE STRING "Maintainer field of the Debian package")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${BLOCKMETER_PACKAGE_MAINTAINER})
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  find_program(DPKG_SHLIBDEPS_PROGRAM dpkg-shlibdeps)
  if(DPKG_SHLIBDEPS_PROGRAM)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    # What the programs link dynamically, unversioned, when dpkg-dev is absent.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  endif()
endif()

add_custom_target(manual_pages ALL DEPENDS ${built_manual_pages})

include(CPack)
