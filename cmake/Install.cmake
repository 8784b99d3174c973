# The installed layout is self-contained, as the program expects: zvcc and
# zvsim at the top of the prefix with Help/, Settings/ and Logs/ beside them,
# the documents in docs/ and the manual page under share/man.
#   cmake --install build --prefix DIR
install(TARGETS zvcc zvsim RUNTIME DESTINATION . COMPONENT Runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/Help/ DESTINATION Help COMPONENT Runtime)
# Empty at first; an ordinary user of an installation they cannot write keeps
# their files in the XDG state folder instead.
install(DIRECTORY DESTINATION Settings COMPONENT Runtime)
install(DIRECTORY DESTINATION Logs COMPONENT Runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs COMPONENT Runtime
        FILES_MATCHING PATTERN "*.md" PATTERN "*.xml")
install(FILES ${PROJECT_SOURCE_DIR}/docs/zvcc.1 DESTINATION share/man/man1 COMPONENT Runtime)
# The systemd user unit of the agent, naming the installed program; a user
# links it into ~/.config/systemd/user (the package puts it where systemd
# finds it by itself).
install(CODE "set(ZV_AGENT_UNIT_IN \"${PROJECT_SOURCE_DIR}/packaging/zvcc-agent.service.in\")"
        COMPONENT Runtime)
install(CODE [[
  file(READ "${ZV_AGENT_UNIT_IN}" unit)
  string(REPLACE "@ZV_AGENT_PROGRAM@" "${CMAKE_INSTALL_PREFIX}/zvcc" unit "${unit}")
  file(WRITE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/systemd/user/zvcc-agent.service" "${unit}")
]] COMPONENT Runtime)
