# cmake --install BUILD --prefix DIR: the libraries, their headers under include/jrx/, a CMake
# package (find_package(JRXLog CONFIG): JRX::Query, JRX::Framework, JRX::LogDBLocal),
# pkg-config files, and the tool.
include(CMakePackageConfigHelpers)

set(JRX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/JRXLog)
set(JRX_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Components are the Debian packages of Package.cmake.
install(TARGETS JRXQuery JRXFramework JRXLogDBLocal EXPORT JRXLogTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT libjrxlog1
        NAMELINK_COMPONENT libjrxlog-dev)
file(GLOB JRX_PUBLIC_HEADERS CONFIGURE_DEPENDS include/jrx/*.h)
install(FILES ${JRX_PUBLIC_HEADERS} plugins/JRXLogDB/JRXLogDBLocal.h
              plugins/JRXLogDB/JRXLogMaintenance.h plugins/JRXLogDB/JRXOpLogObserverFactory.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/jrx COMPONENT libjrxlog-dev)
if(TARGET jrxlog)
  install(TARGETS jrxlog RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT jrxlog)
endif()

install(EXPORT JRXLogTargets NAMESPACE JRX:: DESTINATION ${JRX_CMAKE_DIR} COMPONENT libjrxlog-dev)
configure_package_config_file(cmake/JRXLogConfig.cmake.in
  ${CMAKE_BINARY_DIR}/JRXLogConfig.cmake INSTALL_DESTINATION ${JRX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/JRXLogConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/JRXLogConfig.cmake ${CMAKE_BINARY_DIR}/JRXLogConfigVersion.cmake
        DESTINATION ${JRX_CMAKE_DIR} COMPONENT libjrxlog-dev)

# The .pc files find the prefix from where they lie, so any --prefix given at install time
# holds; only the layout below the prefix is fixed here.
file(RELATIVE_PATH JRX_PC_TO_PREFIX /${JRX_PKGCONFIG_DIR} /)
foreach(pc query framework logdb)
  configure_file(cmake/jrxlog-${pc}.pc.in ${CMAKE_BINARY_DIR}/jrxlog-${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/jrxlog-${pc}.pc DESTINATION ${JRX_PKGCONFIG_DIR}
          COMPONENT libjrxlog-dev)
endforeach()

# The tool's bash completion and man page are made from the tool itself, so that they say
# what it does.
if(TARGET jrxlog)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/share/jrxlog.bash
    COMMAND jrxlog completion bash > ${CMAKE_BINARY_DIR}/share/jrxlog.bash
    DEPENDS jrxlog VERBATIM)
  set(JRX_TOOL_DOCS ${CMAKE_BINARY_DIR}/share/jrxlog.bash)
  install(FILES ${CMAKE_BINARY_DIR}/share/jrxlog.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME jrxlog
          COMPONENT jrxlog)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/share/jrxlog.1
    COMMAND jrxlog help --man > ${CMAKE_BINARY_DIR}/share/jrxlog.1
    DEPENDS jrxlog VERBATIM)
  set(JRX_MAN_PAGE ${CMAKE_BINARY_DIR}/share/jrxlog.1)
  if(JRX_DEB)
    # Debian installs manual pages compressed.
    add_custom_command(OUTPUT ${JRX_MAN_PAGE}.gz
      COMMAND gzip -9nkf ${JRX_MAN_PAGE} DEPENDS ${JRX_MAN_PAGE} VERBATIM)
    set(JRX_MAN_PAGE ${JRX_MAN_PAGE}.gz)
  endif()
  list(APPEND JRX_TOOL_DOCS ${JRX_MAN_PAGE})
  install(FILES ${JRX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT jrxlog)
  file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/share)
  add_custom_target(jrxlog_docs ALL DEPENDS ${JRX_TOOL_DOCS})
endif()
