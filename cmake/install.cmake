# What `cmake --install` puts in place: the add-in with its soname, the public
# headers, the two programs, a CMake package (find_package(Linkbay)), a
# pkg-config file, the manual pages and the example host's sources.
include(CMakePackageConfigHelpers)

set(LINKBAY_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Linkbay)

install(TARGETS linkbay linkbay_headers EXPORT LinkbayTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS linkbay-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET linkbay-sim)
  install(TARGETS linkbay-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/linkbay DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Linkbay::linkbay links the add-in; Linkbay::headers is the interface alone,
# for hosts that load the add-in at run time.
install(EXPORT LinkbayTargets NAMESPACE Linkbay:: DESTINATION ${LINKBAY_CMAKE_PACKAGE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LinkbayConfig.cmake.in
                              ${CMAKE_BINARY_DIR}/LinkbayConfig.cmake
                              INSTALL_DESTINATION ${LINKBAY_CMAKE_PACKAGE_DIR})
# The interface is the same within a major number (the soname's).
write_basic_package_version_file(${CMAKE_BINARY_DIR}/LinkbayConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/LinkbayConfig.cmake ${CMAKE_BINARY_DIR}/LinkbayConfigVersion.cmake
        DESTINATION ${LINKBAY_CMAKE_PACKAGE_DIR})

install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

if(WIN32)
  return()
endif()

# pkg-config: the prefix is taken from where the file lies, so a tree
# installed anywhere (cmake --install --prefix, a package) describes itself.
file(RELATIVE_PATH LINKBAY_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" LINKBAY_PC_TO_PREFIX "${LINKBAY_PC_TO_PREFIX}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/linkbay.pc.in ${CMAKE_BINARY_DIR}/linkbay.pc.configured @ONLY)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/linkbay.pc INPUT ${CMAKE_BINARY_DIR}/linkbay.pc.configured)
install(FILES ${CMAKE_BINARY_DIR}/linkbay.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(LINKBAY_PACKAGE_MAINTAINER "Linkbay maintainers <maintainers@linkbay.example.org>" CACHE STRING
    "Maintainer of the Debian package and its change log: Name <address>")

# Manual pages and the package's change log, compressed as Debian wants them
# (gzip -n: no name or time stamp, so a rebuild gives the same bytes).
string(TIMESTAMP LINKBAY_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/packaging/changelog @ONLY)
set(linkbay_compressed)
foreach(source man/linkbay.1 man/linkbay-sim.1 ${CMAKE_BINARY_DIR}/packaging/changelog)
  get_filename_component(source ${source} ABSOLUTE BASE_DIR ${PROJECT_SOURCE_DIR})
  get_filename_component(name ${source} NAME)
  set(compressed ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  add_custom_command(OUTPUT ${compressed} COMMAND gzip -9nc ${source} > ${compressed}
                     DEPENDS ${source} VERBATIM)
  list(APPEND linkbay_compressed ${compressed})
endforeach()
add_custom_target(linkbay-compressed-docs ALL DEPENDS ${linkbay_compressed})
install(FILES ${CMAKE_BINARY_DIR}/packaging/linkbay.1.gz ${CMAKE_BINARY_DIR}/packaging/linkbay-sim.1.gz
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.gz ${PROJECT_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
