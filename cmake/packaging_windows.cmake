# The Windows zip: k5ctl.exe (static, it needs no DLLs) and a README.txt with the headless
# runner's and the Windows sections of README.md, as k5kit-<version>-win64.zip.
#   cmake --build --preset windows --target package

install(TARGETS k5ctl RUNTIME DESTINATION .)

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
set(CPACK_PACKAGE_NAME k5kit)
set(CPACK_PACKAGE_VENDOR "K5 service kit")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "K5 service kit: the headless runner k5ctl for Windows")
set(CPACK_PACKAGE_FILE_NAME "k5kit-${PROJECT_VERSION}-win64")
set(CPACK_STRIP_FILES TRUE)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_BINARY_DIR}/package)
include(CPack)
