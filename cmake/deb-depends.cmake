# Read by cpack as it makes the .deb, once the program is built: the package
# depends on the glibc that brought the newest symbol the program uses. That
# works for every processor alike, where dpkg-shlibdeps would need the
# target's own glibc package installed.
execute_process(COMMAND "${CPACK_RCON_OBJDUMP}" -T "${CPACK_RCON_PROGRAM}"
                OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "GLIBC_[0-9.]+" versions "${symbols}")
list(TRANSFORM versions REPLACE "GLIBC_" "")
list(SORT versions COMPARE NATURAL ORDER DESCENDING)
list(GET versions 0 newest)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${newest})")
