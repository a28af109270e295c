# The Debian packages, one per install component (scripts/package runs
# `cpack -G DEB` in the build tree). dpkg-shlibdeps finds the system
# libraries each package needs; the plugin's package depends on the
# program's of the same version and on exactly the QGIS library it was
# built against.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vark-fuzzy)
set(CPACK_PACKAGE_VENDOR "VARK fuzzy")
set(CPACK_PACKAGE_CONTACT "VARK fuzzy maintainers <maintainers@vark-fuzzy.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${VARK_PACKAGE_COMPONENTS})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_BINARY_DIR}/bin;${CMAKE_BINARY_DIR}/bin/qgis-plugins")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME vark-fuzzy)
set(CPACK_COMPONENT_PROGRAM_DESCRIPTION
    "fuzzy criteria from graded text values of polygon layers\n"
    "vark-fuzzy grades the distinct values of a text field of a polygon layer\n"
    "(shapefile, GeoPackage, PostGIS table, any layer GDAL opens) on a scale of\n"
    "three, five or seven levels and adds a field holding every feature's\n"
    "fuzzy membership degree, recording how the criterion was made beside the\n"
    "layer. It runs as a window and as batch subcommands; every change of a\n"
    "layer is made whole or not at all.")

set(CPACK_DEBIAN_QGIS_PACKAGE_NAME qgis-plugin-vark-fuzzy)
set(CPACK_COMPONENT_QGIS_DESCRIPTION
    "QGIS plugin and Processing algorithm of vark-fuzzy\n"
    "Adds the text-criterion window of vark-fuzzy to QGIS's menus and toolbar,\n"
    "and the Processing algorithm vark:textcriterion, which QGIS's command-line\n"
    "runner qgis_process can run too.")
if(VARK_WITH_QGIS)
  # The package that holds the QGIS core library the plugin was linked with.
  get_filename_component(qgis_core_real "${QGIS_CORE_LIBRARY}" REALPATH)
  execute_process(COMMAND dpkg-query -S "${qgis_core_real}" OUTPUT_VARIABLE qgis_owner
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  string(REGEX REPLACE ":.*$" "" qgis_package "${qgis_owner}")
  set(qgis_dependency "")
  if(qgis_package)
    execute_process(COMMAND dpkg-query -W "-f=\${Version}" "${qgis_package}"
                    OUTPUT_VARIABLE qgis_version OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(qgis_version)
      set(qgis_dependency ", ${qgis_package} (= ${qgis_version})")
    endif()
  endif()
  set(CPACK_DEBIAN_QGIS_PACKAGE_DEPENDS
      "vark-fuzzy (= ${PROJECT_VERSION}-1)${qgis_dependency}, qgis")
  set(CPACK_DEBIAN_QGIS_PACKAGE_RECOMMENDS "python3-qgis")
  set(CPACK_DEBIAN_QGIS_PACKAGE_SECTION science)
endif()

include(CPack)
