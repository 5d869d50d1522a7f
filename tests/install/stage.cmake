# SPDX-License-Identifier: GPL-3.0-or-later
# Stages the build's installation and packs its Debian package for the install tests:
#   cmake -DBUILD_DIR=... -DSTAGE_DIR=... -DPACKAGE_DIR=... -P stage.cmake
# The programs land in STAGE_DIR/usr/bin, as the package puts them in /usr/bin.
file(REMOVE_RECURSE ${STAGE_DIR} ${PACKAGE_DIR})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${STAGE_DIR}/usr
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${PACKAGE_DIR}
  WORKING_DIRECTORY ${BUILD_DIR} COMMAND_ERROR_IS_FATAL ANY)
