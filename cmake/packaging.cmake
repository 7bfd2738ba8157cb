# Installation of the documentation, and the Debian package.
#
#   cmake --install build    programs in bin/, the man pages (gzipped) in
#                            share/man/man1 and man5, README.md, docs/*.md,
#                            the changelog and the copyright notice in
#                            share/doc/pvtools/
#   cpack -G DEB             (in the build tree) the same files as a Debian
#                            package, version = the project's version
#
# pvexpand-nolzw(1) and pvexpand-fast(1) are links to pvexpand(1), the page
# of all three builds.

include(GNUInstallDirs)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(PV_PACKAGE_MAINTAINER "pvtools developers <pvtools@example.org>"
    CACHE STRING "Maintainer named in the Debian package")

find_program(PV_GZIP gzip REQUIRED)
set(pv_man_src ${PROJECT_SOURCE_DIR}/docs/man)
set(pv_pkg_dir ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${pv_pkg_dir})

# gzip -9n: best compression and no name or time stamp inside, as Debian
# wants its man pages and changelogs.
function(pv_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND sh -c "\"$0\" -9nc \"$1\" > \"$2\"" ${PV_GZIP} ${source} ${target}
    DEPENDS ${source} VERBATIM)
endfunction()

set(pv_docs_built "")
foreach(page pvsplit.1 pvheader.1 pvquant.1 pvexpand.1 pvstack.1 pvtools.5)
  string(REGEX MATCH "[0-9]$" section ${page})
  pv_gzip(${pv_man_src}/${page} ${pv_pkg_dir}/${page}.gz)
  list(APPEND pv_docs_built ${pv_pkg_dir}/${page}.gz)
  install(FILES ${pv_pkg_dir}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
foreach(alias pvexpand-nolzw pvexpand-fast)
  file(CREATE_LINK pvexpand.1.gz ${pv_pkg_dir}/${alias}.1.gz SYMBOLIC)
  install(FILES ${pv_pkg_dir}/${alias}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${pv_pkg_dir}/changelog @ONLY)
pv_gzip(${pv_pkg_dir}/changelog ${pv_pkg_dir}/changelog.gz)
list(APPEND pv_docs_built ${pv_pkg_dir}/changelog.gz)
add_custom_target(pv_docs ALL DEPENDS ${pv_docs_built})

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${pv_pkg_dir}/changelog.gz ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        FILES_MATCHING PATTERN "*.md" PATTERN "man" EXCLUDE)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/examples/parallel-quantise.sh ${PROJECT_SOURCE_DIR}/examples/slurm-quantise.sh
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

set(CPACK_PACKAGE_NAME pvtools)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "pvtools developers")
set(CPACK_PACKAGE_CONTACT "${PV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "convert grey image stacks between float TIFF, integer TIFF and raw volumes")
set(CPACK_PACKAGE_DESCRIPTION
    "Five console programs for scientific image stacks (CT and microscopy
volumes, series of slices): pvsplit cuts a raw volume of doubles into
floating-point TIFF slices, pvquant quantises an image to 1 to 16 bits,
pvexpand (built three ways) turns integer TIFF back into floating point,
pvstack gathers slices into a raw volume, mapping integer slices back
to their values from the range recorded in their descriptions, and
pvheader writes a detached NRRD, MetaImage or ENVI header that opens a
raw volume in place in other viewers and libraries.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PV_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
include(CPack)
