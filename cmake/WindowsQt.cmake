# Qt for the Windows build of the desktop programs. Debian has no Qt for mingw:
# scripts/qt-windows.sh provides one in a cache folder, which is where this looks unless
# K5_QT_WINDOWS_PREFIX names another. Qt's tools (moc, rcc) run on the build machine, from
# the host's own Qt 6 of the same version. Without that Qt the Windows build leaves the
# desktop programs out and says so; everything else builds as before.

set(_k5_qt_version 6.4.2)
if(DEFINED ENV{K5_QT_WINDOWS_PREFIX})
  set(_k5_qt_default "$ENV{K5_QT_WINDOWS_PREFIX}")
elseif(DEFINED ENV{K5_QT_WINDOWS_CACHE})
  set(_k5_qt_default "$ENV{K5_QT_WINDOWS_CACHE}/qt6-mingw-${_k5_qt_version}")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(_k5_qt_default "$ENV{XDG_CACHE_HOME}/k5kit/qt6-mingw-${_k5_qt_version}")
else()
  set(_k5_qt_default "$ENV{HOME}/.cache/k5kit/qt6-mingw-${_k5_qt_version}")
endif()
set(K5_QT_WINDOWS_PREFIX "${_k5_qt_default}" CACHE PATH
  "Qt ${_k5_qt_version} for mingw-w64 (scripts/qt-windows.sh prints where it put it)")

if(NOT EXISTS "${K5_QT_WINDOWS_PREFIX}/lib/cmake/Qt6/Qt6Config.cmake")
  message(STATUS "Qt for Windows: none at ${K5_QT_WINDOWS_PREFIX}, so torvik.exe and "
    "veldra.exe are left out. scripts/qt-windows.sh provides it (or set K5_QT_WINDOWS_PREFIX).")
  set(K5_BUILD_QT OFF)
  return()
endif()

message(STATUS "Qt for Windows: ${K5_QT_WINDOWS_PREFIX}")
list(APPEND CMAKE_PREFIX_PATH "${K5_QT_WINDOWS_PREFIX}")
list(APPEND CMAKE_FIND_ROOT_PATH "${K5_QT_WINDOWS_PREFIX}")
set(QT_HOST_PATH "/usr" CACHE PATH "The build machine's Qt, whose tools the Windows build runs")
set(QT_HOST_PATH_CMAKE_DIR "/usr/lib/x86_64-linux-gnu/cmake" CACHE PATH
  "CMake packages of the build machine's Qt")

# What a Windows PC needs beside torvik.exe or veldra.exe (what a deployment tool would copy):
# Qt's DLLs, the platform, style and icon plugins in their folders, and the mingw runtime the
# Qt DLLs link. All of them are staged stripped of their debugging symbols (a third of Qt's
# size, three quarters of the runtime's) in <build>/qt-runtime, whose layout is the one
# beside a program.
set(K5_QT_WINDOWS_MODULES Core Gui Widgets)
set(K5_QT_WINDOWS_PLUGINS
  platforms/qwindows.dll
  platforms/qoffscreen.dll
  styles/qwindowsvistastyle.dll
  imageformats/qico.dll)
set(K5_MINGW_RUNTIME_DLLS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
set(K5_QT_RUNTIME_DIR "${PROJECT_BINARY_DIR}/qt-runtime")

set(_k5_staged)
function(_k5_stage source relative)
  get_filename_component(folder "${K5_QT_RUNTIME_DIR}/${relative}" DIRECTORY)
  add_custom_command(OUTPUT "${K5_QT_RUNTIME_DIR}/${relative}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
    COMMAND ${CMAKE_STRIP} --strip-unneeded -o "${K5_QT_RUNTIME_DIR}/${relative}" "${source}"
    DEPENDS "${source}"
    COMMENT "Staging ${relative}")
  set(_k5_staged ${_k5_staged} "${K5_QT_RUNTIME_DIR}/${relative}" PARENT_SCOPE)
endfunction()
foreach(module IN LISTS K5_QT_WINDOWS_MODULES ITEMS Test)
  _k5_stage("${K5_QT_WINDOWS_PREFIX}/bin/Qt6${module}.dll" "Qt6${module}.dll")
endforeach()
foreach(plugin IN LISTS K5_QT_WINDOWS_PLUGINS)
  _k5_stage("${K5_QT_WINDOWS_PREFIX}/plugins/${plugin}" "${plugin}")
endforeach()
foreach(dll IN LISTS K5_MINGW_RUNTIME_DLLS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE _k5_dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${_k5_dll_path}")
    message(FATAL_ERROR "The mingw runtime ${dll} was not found (${_k5_dll_path})")
  endif()
  _k5_stage("${_k5_dll_path}" "${dll}")
endforeach()
add_custom_target(k5_qt_runtime DEPENDS ${_k5_staged})

# The staged files of a program that uses the Qt modules `modules`, relative to its folder.
function(_k5_runtime_files out modules)
  set(files)
  foreach(module IN LISTS modules)
    list(APPEND files "Qt6${module}.dll")
  endforeach()
  list(APPEND files ${K5_QT_WINDOWS_PLUGINS} ${K5_MINGW_RUNTIME_DLLS})
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# Copies the DLLs and plugin folders beside a Windows Qt program after each link, so that it
# runs from the build folder (under Wine here) exactly as it will from the zip. Extra Qt
# modules (Test) follow the target's name.
function(k5_deploy_qt_runtime target)
  add_dependencies(${target} k5_qt_runtime)
  set(modules ${K5_QT_WINDOWS_MODULES} ${ARGN})
  _k5_runtime_files(files "${modules}")
  foreach(file IN LISTS files)
    get_filename_component(folder "${file}" DIRECTORY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory "$<TARGET_FILE_DIR:${target}>/${folder}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${K5_QT_RUNTIME_DIR}/${file}"
        "$<TARGET_FILE_DIR:${target}>/${folder}"
      VERBATIM)
  endforeach()
endfunction()

# The same files in the zip, beside the programs.
function(k5_install_qt_runtime destination)
  _k5_runtime_files(files "${K5_QT_WINDOWS_MODULES}")
  foreach(file IN LISTS files)
    get_filename_component(folder "${file}" DIRECTORY)
    install(FILES "${K5_QT_RUNTIME_DIR}/${file}" DESTINATION "${destination}/${folder}")
  endforeach()
endfunction()
