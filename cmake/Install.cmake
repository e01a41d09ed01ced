# Install and package: the staged program directory goes to lib/romsmith
# under the prefix, with a marker that makes every user run it from a
# program directory of their own (see platform/user_program_directory.h);
# the programs are linked into bin/, the manual pages into share/man/man1,
# the desktop entry and icon are installed by app/.
#
# `cpack` (in the build directory) makes the Debian package from the same
# rules, with every ELF file stripped (the debug symbols are dropped, not
# split into a -dbgsym package: the build tree keeps them for debugging);
# `cmake --install --strip` strips in the same way, a plain install keeps
# the symbols. tests/install/check_package.sh checks the package.

set(ROMSMITH_INSTALL_DIR lib/romsmith)
set(ROMSMITH_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(ROMSMITH_MAINTAINER "Romsmith maintainers <maintainers@users.noreply.c-seed-b6d08ea0.example>"
  CACHE STRING "Maintainer field of the Debian package: name <address>")

# What the staged directory holds that a user may get: the programs, the
# driver modules and port libraries, the databases and loader images, the
# virtual boards' files, the examples and the help. Whatever else a build or
# a test run leaves there (the settings as edited, Info.log, the command
# lock, flash images, a command's temporary copies) stays out; the pristine
# settings file is installed below.
install(DIRECTORY ${ROMSMITH_STAGE_DIR}/ DESTINATION ${ROMSMITH_INSTALL_DIR} USE_SOURCE_PERMISSIONS
  FILES_MATCHING
  REGEX "/romsmith(-cli|-simboard)?$"
  PATTERN "*.xdl"
  PATTERN "*.mdl"
  REGEX "/drivers/[^/]+\\.so$"
  REGEX "/ports/[^/]+/portcall\\.so$"
  REGEX "/ports/simboard/[^/]+\\.ini$"
  REGEX "/examples/[^/]+\\.(cfg|bin|hex)$"
  REGEX "/help/.+\\.(html|css|png|svg)$")
install(FILES ${PROJECT_SOURCE_DIR}/data/romsmith.ini DESTINATION ${ROMSMITH_INSTALL_DIR}
  PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
file(WRITE ${CMAKE_BINARY_DIR}/install/installed-marker "")
install(FILES ${CMAKE_BINARY_DIR}/install/installed-marker DESTINATION ${ROMSMITH_INSTALL_DIR}
  RENAME .installed)

# bin/NAME -> ../lib/romsmith/NAME for each program that this build makes.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install/bin)
foreach(program romsmith romsmith-cli romsmith-simboard)
  file(CREATE_LINK ../${ROMSMITH_INSTALL_DIR}/${program} ${CMAKE_BINARY_DIR}/install/bin/${program} SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/install/bin/${program} DESTINATION bin)
endforeach()

# Manual pages and the package's changelog, compressed as Debian wants them
# (gzip -9, no name or time stamp, so the package is reproducible).
find_program(ROMSMITH_GZIP gzip REQUIRED)
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install/man)
set(compressed_docs)
function(romsmith_compressed source output)
  add_custom_command(OUTPUT ${output}
    COMMAND sh -c "\"$1\" -9nc \"$2\" > \"$3\"" gzip ${ROMSMITH_GZIP} ${source} ${output}
    DEPENDS ${source} VERBATIM)
  set(compressed_docs ${compressed_docs} ${output} PARENT_SCOPE)
endfunction()
set(man_pages ${PROJECT_SOURCE_DIR}/cli/romsmith-cli.1 ${PROJECT_SOURCE_DIR}/simboard/romsmith-simboard.1)
if(TARGET romsmith)
  list(APPEND man_pages ${ROMSMITH_PACKAGING_DIR}/romsmith.1)
endif()
foreach(page IN LISTS man_pages)
  get_filename_component(name ${page} NAME)
  romsmith_compressed(${page} ${CMAKE_BINARY_DIR}/install/man/${name}.gz)
  install(FILES ${CMAKE_BINARY_DIR}/install/man/${name}.gz DESTINATION share/man/man1)
endforeach()
romsmith_compressed(${ROMSMITH_PACKAGING_DIR}/changelog ${CMAKE_BINARY_DIR}/install/changelog.gz)
add_custom_target(romsmith_install_docs ALL DEPENDS ${compressed_docs})
install(FILES ${CMAKE_BINARY_DIR}/install/changelog.gz ${ROMSMITH_PACKAGING_DIR}/copyright
  DESTINATION share/doc/romsmith)

# Real probes without root: ppdev loaded at boot, and the group lp given the
# /dev/parport* devices (a user joins it with `adduser $USER lp`). Both are
# read from under /usr by udev and systemd-modules-load.
install(FILES ${ROMSMITH_PACKAGING_DIR}/60-romsmith-parport.rules DESTINATION lib/udev/rules.d)
install(FILES ${ROMSMITH_PACKAGING_DIR}/modules-load.conf DESTINATION lib/modules-load.d
  RENAME romsmith.conf)

# Shell completion of romsmith-cli, installed when cli/ provides it.
if(EXISTS ${PROJECT_SOURCE_DIR}/cli/romsmith-cli.bash-completion)
  install(FILES ${PROJECT_SOURCE_DIR}/cli/romsmith-cli.bash-completion
    DESTINATION share/bash-completion/completions RENAME romsmith-cli)
endif()
# The schema of romsmith-cli's --json output, for the scripts that read it.
install(FILES ${PROJECT_SOURCE_DIR}/cli/romsmith-cli.schema.json DESTINATION share/doc/romsmith)

# Last of all the rules: the ELF files of the installed program directory
# stripped when the install strips (cpack, `cmake --install --strip`), as
# dh_strip strips them; shared libraries are not executable files.
install(CODE "set(romsmith_strip \"${CMAKE_STRIP}\")")
install(CODE [[
  set(tree "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/lib/romsmith")
  file(GLOB_RECURSE libraries "${tree}/*.so")
  foreach(library IN LISTS libraries)
    if(NOT IS_SYMLINK "${library}")
      file(CHMOD "${library}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    endif()
  endforeach()
  if(CMAKE_INSTALL_DO_STRIP)
    foreach(program romsmith romsmith-cli romsmith-simboard)
      if(EXISTS "${tree}/${program}")
        execute_process(COMMAND "${romsmith_strip}" --remove-section=.comment --remove-section=.note
                                "${tree}/${program}" RESULT_VARIABLE failed)
        if(failed)
          message(FATAL_ERROR "strip ${tree}/${program} failed")
        endif()
      endif()
    endforeach()
    foreach(library IN LISTS libraries)
      execute_process(COMMAND "${romsmith_strip}" --remove-section=.comment --remove-section=.note
                              --strip-unneeded "${library}" RESULT_VARIABLE failed)
      if(failed)
        message(FATAL_ERROR "strip ${library} failed")
      endif()
    endforeach()
  endif()
]])

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME romsmith)
set(CPACK_PACKAGE_VENDOR "Romsmith")
set(CPACK_PACKAGE_CONTACT "${ROMSMITH_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ROMSMITH_MAINTAINER}")
# Synopsis and description as Debian writes them: a synopsis under 80
# characters, no article, no full stop; the description (below the synopsis
# in the control file) in lines of at most 79 characters, paragraphs apart.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "JTAG flash programmer for ARM7 and ARM9 boards on a parallel port")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Romsmith programs, erases, verifies and reads back the NOR, NAND and on-chip
flash of ARM7 and ARM9 boards over JTAG, through a probe on the PC's parallel
port (ppdev): a plain JTAG cable or one of the supported emulators.
.
The package holds the desktop program romsmith, romsmith-cli for scripts and
production lines, seven debug driver modules, and romsmith-simboard, a virtual
board that answers like silicon, so that every command can be tried without
hardware. It loads ppdev at boot and gives the group lp the parallel ports.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The shared libraries the programs and modules need, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openocd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# The package holds what the build has made: cpack (and the install target)
# builds nothing first. Its staging area stays inside the build tree.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)
