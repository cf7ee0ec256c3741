# hardening.cmake - the hardening Debian builds its packages with, for the
# optimised builds (Release, RelWithDebInfo, MinSizeRel) and so for the
# package: zibbet writes text taken from login records onto other users'
# terminals. Fortified libc calls, the stack protector, a position-
# independent executable, full RELRO (bind-now), and where the compiler
# has them stack-clash and control-flow protection. Sanitizer and fuzz
# builds keep their own instrumentation instead.
# ZIBBET_HARDENED: a generator expression, 1 in the builds hardened here.
set(ZIBBET_HARDENED 0)
if(ZIBBET_SANITIZE OR ZIBBET_FUZZ)
  return()
endif()

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

set(zibbet_optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
set(ZIBBET_HARDENED "${zibbet_optimised}")
# _FORTIFY_SOURCE needs optimisation; a compiler that defines it already
# would warn about a second definition.
add_compile_options("$<${zibbet_optimised}:-U_FORTIFY_SOURCE>"
                    "$<${zibbet_optimised}:-D_FORTIFY_SOURCE=2>"
                    "$<${zibbet_optimised}:-fstack-protector-strong>")
include(CheckCXXCompilerFlag)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "ZIBBET_HAS${flag}" has_flag)
  check_cxx_compiler_flag(${flag} ${has_flag})
  if(${has_flag})
    add_compile_options("$<${zibbet_optimised}:${flag}>")
  endif()
endforeach()
add_link_options("$<${zibbet_optimised}:-Wl,-z,relro,-z,now>")
