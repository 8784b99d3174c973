# The Debian package: the installed layout under /opt/zvcc, with /usr/bin/zvcc
# and /usr/bin/zvsim as symbolic links into it and the manual page where man
# finds it. Build it in a build folder with `cpack` (or `cpack -B DIR`).
set(ZV_PACKAGE_PREFIX /opt/zvcc)

# What only the package adds: it names absolute system paths, so it stays out
# of a plain `cmake --install`.
install(CODE [[
  set(root "$ENV{DESTDIR}")
  file(MAKE_DIRECTORY "${root}/usr/bin" "${root}/usr/share/man/man1")
  foreach(program zvcc zvsim)
    file(CREATE_LINK "${CMAKE_INSTALL_PREFIX}/${program}" "${root}/usr/bin/${program}" SYMBOLIC)
  endforeach()
  # The agent's user unit where `systemctl --user` finds it.
  file(MAKE_DIRECTORY "${root}/usr/lib/systemd/user")
  file(CREATE_LINK "${CMAKE_INSTALL_PREFIX}/share/systemd/user/zvcc-agent.service"
       "${root}/usr/lib/systemd/user/zvcc-agent.service" SYMBOLIC)
  # The simulator's bus service file stays in the program folder: linked into
  # the system's service folder it would answer every user's first local start
  # in place of a real server. A user who wants it adds that folder to their
  # own bus's service folders.
]] COMPONENT Debian EXCLUDE_FROM_ALL)
install(CODE "
  execute_process(COMMAND gzip -9n -c \"${PROJECT_SOURCE_DIR}/docs/zvcc.1\"
                  OUTPUT_FILE \"\$ENV{DESTDIR}/usr/share/man/man1/zvcc.1.gz\"
                  COMMAND_ERROR_IS_FATAL ANY)
" COMPONENT Debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zvcc)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "console client of the Zorvane paging server")
set(CPACK_PACKAGE_DESCRIPTION
    "zvcc connects to a Zorvane Server over TCP/IP or the local D-Bus interface, receives its carriers and sends messages typed at a prompt or piped in. The package also holds zvsim, a zVP server simulator for trying it out.")
set(CPACK_PACKAGE_CONTACT "zvcc maintainers <zvcc@localhost>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The layout under the prefix and the system paths of the Debian component
# both land in the staging folder, which becomes the package's root.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX ${ZV_PACKAGE_PREFIX})
set(CPACK_PACKAGING_INSTALL_PREFIX ${ZV_PACKAGE_PREFIX})
# Rules that name no component belong to the product too; the system paths
# come last, once everything they point at is in place.
set(CPACK_COMPONENTS_ALL Runtime Unspecified Debian)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# The libraries the programs link (libedit, pugixml, libsystemd, SQLite, the C and C++
# runtimes) become the package's dependencies as dpkg-shlibdeps finds them.
find_program(ZV_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZV_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS
      "libc6, libstdc++6, libgcc-s1, libedit2, libpugixml1v5, libsystemd0, libsqlite3-0")
endif()
include(CPack)
