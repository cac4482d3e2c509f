# What a user installs, and the package that carries it (CPack:
# cmake --build BUILD --target package). A Linux build makes the Debian package
# quillmap_VERSION_amd64.deb: /usr/bin/quillmap, its manual page, and under
# /usr/share/doc/quillmap the README, Debian's copyright file with the notices
# of the libraries built into the program, the changelog and a sample level.
# The Windows cross build makes quillmap-VERSION-win64.zip: one folder with
# quillmap.exe, README.txt (CR LF), licenses\ and a sample level.
# The program's own install rule is in tool/CMakeLists.txt; the version is the
# project's.

if(WIN32)
  set(CMAKE_INSTALL_BINDIR .)  # the exe at the top of the zip's folder
endif()
include(GNUInstallDirs)
# Folders made by the installation get 755 whatever the umask, as packages need.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(QM_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(QM_PACKAGE_FILES ${CMAKE_BINARY_DIR}/package-files)
set(QM_SAMPLE_LEVEL ${PROJECT_SOURCE_DIR}/examples/levels/sample_rooms.tr4)
set(QM_PACKAGE_MAINTAINER "Quillmap developers <quillmap@example.org>" CACHE STRING
    "The Debian package's maintainer; the changelog's entries are signed with it too")
file(MAKE_DIRECTORY ${QM_PACKAGE_FILES})

# The libraries built into the program, by platform. Each has two notices: its
# paragraph in the Debian copyright file (packaging/debian/copyright/NAME,
# with the licence paragraphs it names), and for the zip the copyright file of
# the Debian package it was built from, as the build machine has it.
set(qm_licences_json Expat)
set(qm_licences_stb public-domain Expat)
set(qm_licences_zlib Zlib)
set(qm_licences_glibc LGPL-2.1+)
set(qm_licences_gcc-runtime GPL-3+-with-exception)
set(qm_about_json "JSON for Modern C++, which writes the --json documents")
set(qm_about_stb "stb_image and stb_image_write, which read and write the PNG pictures")
set(qm_about_zlib "zlib, which reads and writes the compressed parts of the levels")
set(qm_about_gcc-runtime "the GNU C++ library and libgcc, the runtime of the compiler")
set(qm_about_mingw-runtime "the MinGW-w64 runtime and its threads library, winpthreads")
set(qm_windows_notice_json nlohmann-json3-dev)
set(qm_windows_notice_stb libstb-dev)
set(qm_windows_notice_zlib libz-mingw-w64-dev)
set(qm_windows_notice_gcc-runtime gcc-mingw-w64-base)       # libstdc++ and libgcc
set(qm_windows_notice_mingw-runtime mingw-w64-x86-64-dev)   # the C runtime start-up code and winpthreads

set(QM_BUILT_IN json stb)  # header-only: in every build
if(WIN32)
  list(APPEND QM_BUILT_IN zlib gcc-runtime mingw-runtime)
elseif(QM_LINK_STATIC)
  list(APPEND QM_BUILT_IN zlib glibc gcc-runtime)
endif()

# Reads a text file kept in the sources, and configures again when it changes.
function(qm_read_source path out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${path})
  file(READ ${path} text)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes text with CR LF line ends, for Windows readers.
function(qm_write_crlf path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${path} "${text}")
endfunction()

if(WIN32)
  # Quillmap's notice names the libraries; each library's notice is its own file.
  qm_read_source(${QM_PACKAGING}/NOTICE.txt notice)
  foreach(lib IN LISTS QM_BUILT_IN)
    set(source /usr/share/doc/${qm_windows_notice_${lib}}/copyright)
    string(APPEND notice "  licenses\\${lib}.txt: ${qm_about_${lib}}\n")
    if(EXISTS ${source})
      file(READ ${source} text)
      qm_write_crlf(${QM_PACKAGE_FILES}/licenses/${lib}.txt "${text}")
      install(FILES ${QM_PACKAGE_FILES}/licenses/${lib}.txt DESTINATION licenses)
    else()
      # The program still builds; only a package without the notice is refused.
      message(WARNING "${source} is missing: the zip cannot be made without the notice of ${lib}")
      install(CODE "message(FATAL_ERROR \"${source} is missing: no notice for ${lib}\")")
    endif()
  endforeach()
  qm_write_crlf(${QM_PACKAGE_FILES}/licenses/quillmap.txt "${notice}")
  qm_read_source(${QM_PACKAGING}/windows/README.txt readme)
  string(CONFIGURE "${readme}" readme @ONLY)
  qm_write_crlf(${QM_PACKAGE_FILES}/README.txt "${readme}")
  install(FILES ${QM_PACKAGE_FILES}/licenses/quillmap.txt DESTINATION licenses)
  install(FILES ${QM_PACKAGE_FILES}/README.txt ${QM_SAMPLE_LEVEL} DESTINATION .)
else()
  # Debian's copyright file: Quillmap's paragraph, one per library built in,
  # then the text of each licence they name, once.
  qm_read_source(${QM_PACKAGING}/debian/copyright/quillmap copyright)
  set(licences "")
  foreach(lib IN LISTS QM_BUILT_IN)
    qm_read_source(${QM_PACKAGING}/debian/copyright/${lib} text)
    string(APPEND copyright "${text}")
    list(APPEND licences ${qm_licences_${lib}})
  endforeach()
  list(REMOVE_DUPLICATES licences)
  foreach(licence IN LISTS licences)
    qm_read_source(${QM_PACKAGING}/debian/copyright/license-${licence} text)
    string(APPEND copyright "${text}")
  endforeach()
  file(WRITE ${QM_PACKAGE_FILES}/copyright "${copyright}")

  # The manual page's title line carries the project's version.
  qm_read_source(${PROJECT_SOURCE_DIR}/doc/quillmap.1 page)
  string(REGEX REPLACE "^(\\.TH [^\n]*)\"Quillmap [^\"]*\"" "\\1\"Quillmap ${PROJECT_VERSION}\"" page "${page}")
  file(WRITE ${QM_PACKAGE_FILES}/quillmap.1 "${page}")

  # The manual page, the README and the changelog compressed as Debian keeps
  # them (gzip -9n: no name or time inside, so the same sources give the same
  # bytes); a system without gzip installs them as they are.
  set(docdir ${CMAKE_INSTALL_DATAROOTDIR}/doc/quillmap)
  find_program(QM_GZIP gzip)
  foreach(file ${QM_PACKAGE_FILES}/quillmap.1 ${PROJECT_SOURCE_DIR}/README.md ${QM_PACKAGING}/debian/changelog)
    get_filename_component(name ${file} NAME)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${file})
    if(QM_GZIP)
      execute_process(COMMAND ${QM_GZIP} -9n -c ${file} OUTPUT_FILE ${QM_PACKAGE_FILES}/${name}.gz COMMAND_ERROR_IS_FATAL ANY)
      set(qm_installed_${name} ${QM_PACKAGE_FILES}/${name}.gz)
    else()
      set(qm_installed_${name} ${file})
    endif()
  endforeach()
  install(FILES ${qm_installed_quillmap.1} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${QM_PACKAGE_FILES}/copyright ${qm_installed_changelog} ${qm_installed_README.md} DESTINATION ${docdir})
  install(FILES ${QM_SAMPLE_LEVEL} DESTINATION ${docdir}/examples)
  # What lintian says of every static program, answered for this one.
  if(QM_LINK_STATIC)
    install(FILES ${QM_PACKAGING}/debian/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides
            RENAME quillmap)
  endif()
endif()

# --- CPack ---------------------------------------------------------------------
set(CPACK_PACKAGE_NAME quillmap)
set(CPACK_PACKAGE_VENDOR "the Quillmap developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${QM_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "report on and batch-edit the level files of the TR games")
# The long description in lines of at most 80 characters, as Debian shows it.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
  "Quillmap is a command-line tool for the level files of the TR game series,"
  "TR1 to TR5, plain or inside a ZLIB container. It prints a report on a level,"
  "lists the ids it uses (items, static meshes, animated textures, rooms, water,"
  "floor step sounds, textures), draws a map of its rooms as a picture or a web"
  "page, and edits rooms and items in batches: floor step sounds, room light"
  "and colour, the water, sky and quicksand flags, texture ids, item positions"
  "and flags."
  ""
  "An edited level is written back in its own format, byte for byte where"
  "nothing changed, through a temporary file: a save that fails leaves the"
  "level as it was.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME quillmap-${PROJECT_VERSION}-win64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # The packages of the shared libraries the program loads; a static program
  # loads none and depends on nothing.
  if(NOT QM_LINK_STATIC)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  endif()
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
