# The LZMA SDK's 7z decoder (C sources of the distribution's 7zip source
# package, unpacked by scripts/fetch_lzma_sdk.sh, which
# scripts/install_deps.sh runs). Only what reading a 7z archive needs.
set(KAVOR_LZMA_SDK_DIR "${CMAKE_SOURCE_DIR}/third_party/lzma_sdk" CACHE PATH
    "Folder holding the LZMA SDK's C/ sources")
if(NOT EXISTS "${KAVOR_LZMA_SDK_DIR}/C/7zArcIn.c")
  # A tree configured before the dependency script ran: fetch them now.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "KAVOR_LZMA_SDK_DIR=${KAVOR_LZMA_SDK_DIR}"
            bash ${CMAKE_SOURCE_DIR}/scripts/fetch_lzma_sdk.sh
    RESULT_VARIABLE _fetch_result)
  if(NOT _fetch_result EQUAL 0)
    message(FATAL_ERROR "Fetching the LZMA SDK sources into "
                        "${KAVOR_LZMA_SDK_DIR} failed (${_fetch_result}): see "
                        "the messages of scripts/fetch_lzma_sdk.sh above, "
                        "or set KAVOR_LZMA_SDK_DIR to a folder holding them")
  endif()
  if(NOT EXISTS "${KAVOR_LZMA_SDK_DIR}/C/7zArcIn.c")
    message(FATAL_ERROR "No LZMA SDK sources in ${KAVOR_LZMA_SDK_DIR}: run "
                        "scripts/install_deps.sh (or set KAVOR_LZMA_SDK_DIR)")
  endif()
endif()
set(_lzma_c "${KAVOR_LZMA_SDK_DIR}/C")
add_library(lzma_sdk STATIC
  ${_lzma_c}/7zArcIn.c ${_lzma_c}/7zBuf.c ${_lzma_c}/7zCrc.c
  ${_lzma_c}/7zCrcOpt.c ${_lzma_c}/7zDec.c ${_lzma_c}/7zStream.c
  ${_lzma_c}/Bcj2.c ${_lzma_c}/Bra.c ${_lzma_c}/Bra86.c ${_lzma_c}/BraIA64.c
  ${_lzma_c}/CpuArch.c ${_lzma_c}/Delta.c ${_lzma_c}/Lzma2Dec.c
  ${_lzma_c}/LzmaDec.c)
target_include_directories(lzma_sdk SYSTEM PUBLIC ${_lzma_c})
# Third-party code: its warnings are not ours to fix, and must not fail the
# build under the project's -Werror.
target_compile_options(lzma_sdk PRIVATE -w -Wno-error)
