# Install and package: the staged program directory goes to lib/romsmith
# under the prefix, with a marker that makes every user run it from a
# program directory of their own (see platform/user_program_directory.h);
# the programs are linked into bin/, the manual pages into share/man/man1.

set(ROMSMITH_INSTALL_DIR lib/romsmith)

# What the build or a run left in the staged directory and a user must not
# inherit: the settings as edited (the pristine file is installed below),
# the log, the command lock and the virtual boards' flash images.
install(DIRECTORY ${ROMSMITH_STAGE_DIR}/ DESTINATION ${ROMSMITH_INSTALL_DIR} USE_SOURCE_PERMISSIONS
  PATTERN romsmith.ini EXCLUDE
  PATTERN Info.log EXCLUDE
  PATTERN .romsmith.lock EXCLUDE
  REGEX "/ports/[^/]+/[^/]*\\.bin$" EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/data/romsmith.ini DESTINATION ${ROMSMITH_INSTALL_DIR})
file(WRITE ${CMAKE_BINARY_DIR}/install/installed-marker "")
install(FILES ${CMAKE_BINARY_DIR}/install/installed-marker DESTINATION ${ROMSMITH_INSTALL_DIR}
  RENAME .installed)

# bin/NAME -> ../lib/romsmith/NAME for each program that this build makes.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install/bin)
foreach(program romsmith romsmith-cli romsmith-simboard)
  file(CREATE_LINK ../${ROMSMITH_INSTALL_DIR}/${program} ${CMAKE_BINARY_DIR}/install/bin/${program} SYMBOLIC)
  install(FILES ${CMAKE_BINARY_DIR}/install/bin/${program} DESTINATION bin)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/cli/romsmith-cli.1 ${PROJECT_SOURCE_DIR}/simboard/romsmith-simboard.1
  DESTINATION share/man/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME romsmith)
set(CPACK_PACKAGE_VENDOR "Romsmith")
set(CPACK_PACKAGE_CONTACT "Romsmith developers <romsmith@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "flash programmer for ARM7 and ARM9 boards over JTAG through a parallel-port probe")
set(CPACK_PACKAGE_DESCRIPTION
  "Programs, erases, verifies and reads back the NOR, NAND and on-chip flash of ARM7 and ARM9 \
boards over JTAG through a parallel-port probe (ppdev), with a virtual board to try every \
command without hardware.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# The shared libraries the programs and modules need, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "openocd")
set(CPACK_STRIP_FILES ON)
include(CPack)
