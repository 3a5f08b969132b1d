# cmake -DFILE=... -DLIMIT=0x... -P CheckImageSize.cmake
file(SIZE "${FILE}" size)
math(EXPR limit "${LIMIT}")
math(EXPR hex "${size}" OUTPUT_FORMAT HEXADECIMAL)
if(size GREATER limit)
  message(FATAL_ERROR "updater image is ${size} bytes (${hex}), above ${LIMIT}")
endif()
message(STATUS "updater image is ${size} bytes (${hex}), limit ${LIMIT}")
