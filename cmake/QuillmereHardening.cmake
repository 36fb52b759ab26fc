# The distribution's hardening, as dpkg-buildflags gives it for Debian's own
# packages with every feature on: stack protector, _FORTIFY_SOURCE, format
# checks, full RELRO with immediate binding. The build type keeps choosing
# optimisation and debug information, so -O and -g are left out. Run from the source folder, the file prefix map makes the
# binaries name their sources relative to it, whatever the checkout's path.
find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${DPKG_BUILDFLAGS} --get ${kind}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g[0-9]*|O[0-9sgz]?)$")
  if(kind STREQUAL LDFLAGS)
    add_link_options(${flags})
  else()
    add_compile_options(${flags})
  endif()
endforeach()

# Position-independent executables, asked for explicitly rather than left to
# the compiler's default, so ASLR covers the programs on any toolchain.
include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
