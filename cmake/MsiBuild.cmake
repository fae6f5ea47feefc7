# Builds one Windows Installer package (cmake/Msi.cmake): installs the build folder BUILD into
# STAGE, stamps its README with VERSION, generates the component list of every staged file
# with WIXL_HEAT and packs it with SOURCE/packaging/k5kit.wxs into OUTPUT with WIXL.

file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${STAGE}/files --strip
  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

# The README's first line names the version it came with; its lines end in CR LF, as
# packaging_windows.cmake writes them.
file(READ ${STAGE}/files/README.txt readme)
string(REPLACE "\r" "" readme "${readme}")
string(FIND "${readme}" "\n" end)
string(SUBSTRING "${readme}" ${end} -1 rest)
string(REPLACE "\n" "\r\n" rest "${rest}")
file(WRITE ${STAGE}/files/README.txt "K5 service kit ${VERSION} for Windows${rest}")

# wixl-heat reads the paths from its standard input, one a line.
file(GLOB_RECURSE files LIST_DIRECTORIES false ${STAGE}/files/*)
list(SORT files)
list(JOIN files "\n" listing)
file(WRITE ${STAGE}/files.txt "${listing}\n")
execute_process(
  COMMAND ${WIXL_HEAT} --prefix ${STAGE}/files/ --directory-ref INSTALLDIR
    --component-group KitFiles --var var.Stage --win64
  INPUT_FILE ${STAGE}/files.txt OUTPUT_FILE ${STAGE}/k5kit-files.wxs COMMAND_ERROR_IS_FATAL ANY)

# wixl takes the sources' paths as relative to the folder it runs in.
get_filename_component(folder ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${folder})
file(RELATIVE_PATH resources ${STAGE} ${SOURCE}/resources)
execute_process(
  COMMAND ${WIXL} --arch x64 -D Win64=yes -D Version=${VERSION} -D Stage=files
    -D Resources=${resources} -o ${OUTPUT} ${SOURCE}/packaging/k5kit.wxs k5kit-files.wxs
  WORKING_DIRECTORY ${STAGE} COMMAND_ERROR_IS_FATAL ANY)
