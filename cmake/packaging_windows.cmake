# The Windows zip: the programs (k5ctl.exe is static and needs no DLLs) and a README.txt with
# the headless runner's and the Windows sections of README.md, as k5kit-<version>-win64.zip.
#   cmake --build --preset windows --target package

# README.txt: the sections "`k5ctl`, the headless runner" and "Windows", with Windows line
# breaks.
file(READ ${PROJECT_SOURCE_DIR}/README.md k5_readme)
set(k5_readme_txt "K5 service kit ${PROJECT_VERSION} for Windows\n\n")
foreach(k5_heading "## `k5ctl`, the headless runner" "## Windows")
  string(FIND "${k5_readme}" "${k5_heading}\n" k5_start)
  if(k5_start EQUAL -1)
    message(FATAL_ERROR "README.md has no section \"${k5_heading}\"")
  endif()
  string(SUBSTRING "${k5_readme}" ${k5_start} -1 k5_rest)
  string(LENGTH "${k5_heading}" k5_heading_length)
  string(SUBSTRING "${k5_rest}" ${k5_heading_length} -1 k5_after)
  string(FIND "${k5_after}" "\n## " k5_end)
  if(NOT k5_end EQUAL -1)
    math(EXPR k5_end "${k5_end} + ${k5_heading_length} + 1")
    string(SUBSTRING "${k5_rest}" 0 ${k5_end} k5_rest)
  endif()
  string(APPEND k5_readme_txt "${k5_rest}\n")
endforeach()
string(REPLACE "\n" "\r\n" k5_readme_txt "${k5_readme_txt}")
file(WRITE ${PROJECT_BINARY_DIR}/package/README.txt "${k5_readme_txt}")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/README.md)
install(FILES ${PROJECT_BINARY_DIR}/package/README.txt DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME "k5kit-${PROJECT_VERSION}-win64")
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)

# Every program the kit ships carries the application manifest; TORVIK's and VELDRA's come
# with their icons (cmake/WindowsResources.cmake).
if(TARGET k5ctl)
  k5_add_windows_manifest(k5ctl k5ctl)
endif()

# The same files as a Windows Installer package.
include(${CMAKE_CURRENT_LIST_DIR}/Msi.cmake)
