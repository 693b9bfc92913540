# Debian packages, made by `cpack -G DEB` in a build configured with -DJRX_DEB=ON and the
# prefix /usr (scripts/package.sh does both):
#   libjrxlog1     the three shared libraries
#   libjrxlog-dev  headers, the CMake package, the pkg-config files
#   jrxlog         the tool, its man page and bash completion
# Each carries the Debian changelog and the copyright file its policy asks for.
set(JRX_DEB_REVISION 1)
set(JRX_DEB_VERSION ${PROJECT_VERSION}-${JRX_DEB_REVISION})
set(JRX_DEB_DOCS ${CMAKE_BINARY_DIR}/deb-docs)
configure_file(packaging/changelog.in ${JRX_DEB_DOCS}/changelog.Debian @ONLY)
# gzip -n: the same sources give the same package bytes.
execute_process(COMMAND gzip -9nf ${JRX_DEB_DOCS}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
foreach(component libjrxlog1 libjrxlog-dev jrxlog)
  install(FILES ${JRX_DEB_DOCS}/changelog.Debian.gz packaging/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${component} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME jrxlog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "jrxlog developers <jrxlog-devel@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL libjrxlog1 libjrxlog-dev jrxlog)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${JRX_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tool's own libraries come from libjrxlog1, named below; dpkg-shlibdeps finds them in the
# build and leaves them to that dependency.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(JRX_DEB_EXACT "(= ${JRX_DEB_VERSION})")
# The library package tells dpkg-shlibdeps of other packages which package holds each library,
# and lets dpkg's ldconfig trigger update the loader's cache instead of maintainer scripts.
set(JRX_DEB_CONTROL ${CMAKE_BINARY_DIR}/deb-control)
file(WRITE ${JRX_DEB_CONTROL}/shlibs "")
foreach(lib JRXQuery JRXFramework JRXLogDBLocal)
  file(APPEND ${JRX_DEB_CONTROL}/shlibs
       "lib${lib} ${PROJECT_VERSION_MAJOR} libjrxlog1 ${JRX_DEB_EXACT}\n")
endforeach()
file(WRITE ${JRX_DEB_CONTROL}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_LIBJRXLOG1_PACKAGE_CONTROL_EXTRA ${JRX_DEB_CONTROL}/shlibs
    ${JRX_DEB_CONTROL}/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_LIBJRXLOG1_PACKAGE_NAME libjrxlog1)
set(CPACK_DEBIAN_LIBJRXLOG1_DESCRIPTION
    "operation log and event log of a server-management agent (libraries)
libJRXLogDBLocal keeps, in SQLite or MariaDB, the progress of an agent's
long-running operations and the events and audit records about its
environments. libJRXFramework and libJRXQuery are the framework and the
query library it runs on.")

set(CPACK_DEBIAN_LIBJRXLOG-DEV_PACKAGE_NAME libjrxlog-dev)
set(CPACK_DEBIAN_LIBJRXLOG-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_LIBJRXLOG-DEV_PACKAGE_DEPENDS "libjrxlog1 ${JRX_DEB_EXACT}, libboost-dev")
set(CPACK_DEBIAN_LIBJRXLOG-DEV_DESCRIPTION
    "operation log and event log of a server-management agent (development files)
Headers, the CMake package (find_package(JRXLog)) and the pkg-config files
(jrxlog-logdb, jrxlog-framework, jrxlog-query) of the log libraries.")

set(CPACK_DEBIAN_JRXLOG_PACKAGE_NAME jrxlog)
set(CPACK_DEBIAN_JRXLOG_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_JRXLOG_PACKAGE_DEPENDS "libjrxlog1 ${JRX_DEB_EXACT}")
set(CPACK_DEBIAN_JRXLOG_DESCRIPTION
    "operator's tool for the agent's operation log and event log
jrxlog lists, follows, imports, compacts and serves (a read-only web view and
JSON API) the operation log and event log of a server-management agent, on
SQLite or MariaDB.")

include(CPack)
