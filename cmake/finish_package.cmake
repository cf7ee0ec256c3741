# compress_man.cmake - run by CPack after it has staged the files and before
# it makes the package: compresses the staged manual pages with gzip -9n, as
# Debian ships them. Pages stay plain when gzip is not there.

find_program(ZIBBET_GZIP gzip)
if(NOT ZIBBET_GZIP)
  message(STATUS "gzip not found: the manual page is packaged uncompressed")
  return()
endif()
file(GLOB_RECURSE zibbet_staged_pages
     "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]")
foreach(page ${zibbet_staged_pages})
  execute_process(COMMAND ${ZIBBET_GZIP} -9nf ${page} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${page}")
  endif()
endforeach()
