# The Windows Installer package, k5kit-<version>-x64.msi in <build>/package, built with every
# build of the windows preset: cmake/MsiBuild.cmake installs the build into a staging folder
# (what the zip holds), lists its files as components with wixl-heat and packs them with
# packaging/k5kit.wxs. A second package of the same files, stamped with a lower version
# (package/older/), is what the upgrade tests install first. Included by the packaging and by
# the installer tests (tests/msi), whichever comes first.
include_guard(GLOBAL)

find_program(K5_WIXL wixl)
find_program(K5_WIXL_HEAT wixl-heat)
if(NOT K5_WIXL OR NOT K5_WIXL_HEAT)
  message(STATUS "wixl and wixl-heat (package wixl) are missing: no Windows Installer package")
  return()
endif()

set(K5_MSI_OLDER_VERSION 0.0.1)
if(NOT PROJECT_VERSION VERSION_GREATER K5_MSI_OLDER_VERSION)
  message(FATAL_ERROR "The upgrade tests need a version below ${PROJECT_VERSION}")
endif()
set(K5_MSI ${PROJECT_BINARY_DIR}/package/k5kit-${PROJECT_VERSION}-x64.msi)
set(K5_MSI_OLDER ${PROJECT_BINARY_DIR}/package/older/k5kit-${K5_MSI_OLDER_VERSION}-x64.msi)

set(k5_msi_programs)
foreach(program torvik veldra k5ctl)
  if(TARGET ${program})
    list(APPEND k5_msi_programs ${program} $<TARGET_FILE:${program}>)
  endif()
endforeach()

# k5_msi(OUTPUT VERSION STAGE)
function(k5_msi output version stage)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DBUILD=${PROJECT_BINARY_DIR} -DSTAGE=${stage}
      -DVERSION=${version} -DOUTPUT=${output} -DSOURCE=${PROJECT_SOURCE_DIR}
      -DWIXL=${K5_WIXL} -DWIXL_HEAT=${K5_WIXL_HEAT}
      -P ${PROJECT_SOURCE_DIR}/cmake/MsiBuild.cmake
    DEPENDS ${k5_msi_programs} ${PROJECT_BINARY_DIR}/package/README.txt
      ${PROJECT_SOURCE_DIR}/packaging/k5kit.wxs ${PROJECT_SOURCE_DIR}/cmake/MsiBuild.cmake
      ${PROJECT_SOURCE_DIR}/resources/torvik.ico ${PROJECT_SOURCE_DIR}/resources/veldra.ico
    COMMENT "Packing ${output}"
    VERBATIM)
endfunction()
k5_msi(${K5_MSI} ${PROJECT_VERSION} ${PROJECT_BINARY_DIR}/msi-stage/current)
k5_msi(${K5_MSI_OLDER} ${K5_MSI_OLDER_VERSION} ${PROJECT_BINARY_DIR}/msi-stage/older)
add_custom_target(msi ALL DEPENDS ${K5_MSI} ${K5_MSI_OLDER})
