# Built as Debian builds its own packages (dpkg-buildflags with
# hardening=+all), in every build and not only the package's: executables
# at a random address (PIE), canaries in functions with arrays or taken
# addresses, libc calls checked against the sizes the compiler knows,
# relocations read-only and bound before main(), and control-flow and
# stack-clash protection on x86. The Windows program gets the PE counterparts: a
# relocatable image at a 64-bit random address, and no executable data.
if(WIN32)
  add_link_options(LINKER:--dynamicbase LINKER:--nxcompat LINKER:--high-entropy-va)
  return()
endif()

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
add_compile_options(-fstack-protector-strong)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i.86)$")
  # The program is marked for Intel CET only where the C library's start
  # files are too (Debian 12's are not); the code is ready either way.
  add_compile_options(-fcf-protection -fstack-clash-protection)
endif()
# _FORTIFY_SOURCE only works with optimisation (glibc warns without, which
# -Werror turns into an error), and the sanitizers check those calls their
# own way. A level the compiler sets itself (Ubuntu's does) is replaced
# rather than redefined.
if(NOT ZARN_SANITIZE AND NOT ZARN_FUZZ)
  set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
  add_compile_options("$<${optimised}:-U_FORTIFY_SOURCE>" "$<${optimised}:-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
