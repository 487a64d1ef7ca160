# The LZMA SDK's C 7z decoder, compiled from the unpacked Debian source package.
# It is a dependency: its files are never copied into this repository.
set(_lzma "${VNK_LZMA_DIR}/C")
if(NOT EXISTS "${_lzma}/7zDec.c")
  message(FATAL_ERROR "LZMA SDK sources not found in ${VNK_LZMA_DIR}: run scripts/setup.sh")
endif()

add_library(lzma7z STATIC
  ${_lzma}/7zAlloc.c ${_lzma}/7zArcIn.c ${_lzma}/7zBuf.c ${_lzma}/7zBuf2.c
  ${_lzma}/7zCrc.c ${_lzma}/7zCrcOpt.c ${_lzma}/7zDec.c ${_lzma}/7zFile.c
  ${_lzma}/7zStream.c ${_lzma}/Bcj2.c ${_lzma}/Bra.c ${_lzma}/Bra86.c
  ${_lzma}/BraIA64.c ${_lzma}/CpuArch.c ${_lzma}/Delta.c
  ${_lzma}/Lzma2Dec.c ${_lzma}/LzmaDec.c ${_lzma}/Ppmd7.c ${_lzma}/Ppmd7Dec.c)
target_include_directories(lzma7z SYSTEM PUBLIC ${_lzma})
# PPMd is one of the SDK's own 7z methods (7-Zip makes it for text).
target_compile_definitions(lzma7z PUBLIC Z7_EXTRACT_ONLY Z7_PPMD_SUPPORT)
# Not our code: build it as its makefiles do, without our warning set.
target_compile_options(lzma7z PRIVATE -O2 -w)
