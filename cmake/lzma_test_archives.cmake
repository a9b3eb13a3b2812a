# The 7z reader's test archives, made with 7zz into the build tree; the
# installer's unit tests read them from testdata/lzma_util beside bin/.
find_program(KAVOR_7ZZ 7zz REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_lzma_testdata ${CMAKE_BINARY_DIR}/testdata/lzma_util)
set(_lzma_script
    ${CMAKE_SOURCE_DIR}/desktop/windows/installer/lzma_util/test/make_test_archives.py)
add_custom_command(OUTPUT ${_lzma_testdata}/package.exe
  COMMAND ${Python3_EXECUTABLE} ${_lzma_script} ${KAVOR_7ZZ} ${_lzma_testdata}
          $<TARGET_FILE:kavor_setup> $<TARGET_FILE:kavor_dll_search_probe>
  DEPENDS ${_lzma_script} kavor_setup kavor_dll_search_probe
  COMMENT "Making the 7z reader's test archives")
add_custom_target(lzma_util_testdata DEPENDS ${_lzma_testdata}/package.exe)
add_dependencies(installer_unittests lzma_util_testdata)
