# finish_package.cmake - run by CPack after it has staged the files and
# before it makes the package, to leave them as Debian ships its own:
# manual pages and the changelog compressed with gzip -9n, and the program
# without the .comment and .note sections that stripping leaves in.
# Without gzip or objcopy the files stay as they are.

find_program(ZIBBET_GZIP gzip)
if(ZIBBET_GZIP)
  file(GLOB_RECURSE zibbet_to_compress
       "${CPACK_TEMPORARY_DIRECTORY}/*/share/man/man[1-9]/*.[1-9]"
       "${CPACK_TEMPORARY_DIRECTORY}/*/share/doc/*/changelog")
  foreach(file ${zibbet_to_compress})
    execute_process(COMMAND ${ZIBBET_GZIP} -9nf ${file} RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${file}")
    endif()
  endforeach()
else()
  message(STATUS "gzip not found: the manual page and changelog are packaged uncompressed")
endif()

if(CPACK_ZIBBET_OBJCOPY)
  file(GLOB zibbet_programs "${CPACK_TEMPORARY_DIRECTORY}/*/bin/*")
  foreach(program ${zibbet_programs})
    execute_process(COMMAND ${CPACK_ZIBBET_OBJCOPY} --remove-section=.comment
                            --remove-section=.note ${program}
                    RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "objcopy failed on ${program}")
    endif()
  endforeach()
endif()
