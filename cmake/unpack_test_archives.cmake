# The archive of the unpacking tests (the package unpacker and the unpack
# operation) that breaks halfway, made with 7zz into the build tree; the
# installer's unit tests read it from testdata/archive_road.
set(_unpack_testdata ${CMAKE_BINARY_DIR}/testdata/archive_road)
set(_unpack_script
    ${CMAKE_SOURCE_DIR}/desktop/windows/installer/test/make_unpack_archives.py)
add_custom_command(
  OUTPUT ${_unpack_testdata}/archive_road_damaged.7z
  COMMAND ${Python3_EXECUTABLE} ${_unpack_script} ${KAVOR_7ZZ} ${_unpack_testdata}
  DEPENDS ${_unpack_script}
  COMMENT "Making the unpacking tests' archives")
add_custom_target(unpack_testdata DEPENDS
  ${_unpack_testdata}/archive_road_damaged.7z)
add_dependencies(installer_unittests unpack_testdata)
