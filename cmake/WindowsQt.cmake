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
# Qt's DLLs, the platform and style plugins in their folders, and the mingw runtime the Qt
# DLLs link, stripped of its debugging symbols.
set(K5_QT_WINDOWS_DLLS
  "${K5_QT_WINDOWS_PREFIX}/bin/Qt6Core.dll"
  "${K5_QT_WINDOWS_PREFIX}/bin/Qt6Gui.dll"
  "${K5_QT_WINDOWS_PREFIX}/bin/Qt6Widgets.dll")
set(K5_QT_WINDOWS_PLUGINS
  platforms/qwindows.dll
  platforms/qoffscreen.dll
  styles/qwindowsvistastyle.dll
  imageformats/qico.dll)
set(K5_MINGW_RUNTIME_DLLS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

set(_k5_runtime_dir "${PROJECT_BINARY_DIR}/qt-runtime")
set(_k5_runtime_files)
foreach(dll IN LISTS K5_MINGW_RUNTIME_DLLS)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE _k5_dll_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${_k5_dll_path}")
    message(FATAL_ERROR "The mingw runtime ${dll} was not found (${_k5_dll_path})")
  endif()
  add_custom_command(OUTPUT "${_k5_runtime_dir}/${dll}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${_k5_runtime_dir}"
    COMMAND ${CMAKE_STRIP} --strip-unneeded -o "${_k5_runtime_dir}/${dll}" "${_k5_dll_path}"
    DEPENDS "${_k5_dll_path}"
    COMMENT "Stripping ${dll}")
  list(APPEND _k5_runtime_files "${_k5_runtime_dir}/${dll}")
endforeach()
add_custom_target(k5_mingw_runtime DEPENDS ${_k5_runtime_files})
set(K5_MINGW_RUNTIME_DIR "${_k5_runtime_dir}")

# Copies the DLLs and plugin folders beside a Windows Qt program after each link, so that it
# runs from the build folder (under Wine here) exactly as it will from the zip.
function(k5_deploy_qt_runtime target)
  add_dependencies(${target} k5_mingw_runtime)
  set(_dlls ${K5_QT_WINDOWS_DLLS})
  if(ARGN)
    foreach(module IN LISTS ARGN)
      list(APPEND _dlls "${K5_QT_WINDOWS_PREFIX}/bin/Qt6${module}.dll")
    endforeach()
  endif()
  foreach(dll IN LISTS K5_MINGW_RUNTIME_DLLS)
    list(APPEND _dlls "${K5_MINGW_RUNTIME_DIR}/${dll}")
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${_dlls} "$<TARGET_FILE_DIR:${target}>"
    VERBATIM)
  foreach(plugin IN LISTS K5_QT_WINDOWS_PLUGINS)
    get_filename_component(folder "${plugin}" DIRECTORY)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -E make_directory "$<TARGET_FILE_DIR:${target}>/${folder}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${K5_QT_WINDOWS_PREFIX}/plugins/${plugin}"
        "$<TARGET_FILE_DIR:${target}>/${folder}"
      VERBATIM)
  endforeach()
endfunction()

# The same files in the zip, beside the programs.
function(k5_install_qt_runtime destination)
  install(FILES ${K5_QT_WINDOWS_DLLS} DESTINATION "${destination}")
  foreach(dll IN LISTS K5_MINGW_RUNTIME_DLLS)
    install(FILES "${K5_MINGW_RUNTIME_DIR}/${dll}" DESTINATION "${destination}")
  endforeach()
  foreach(plugin IN LISTS K5_QT_WINDOWS_PLUGINS)
    get_filename_component(folder "${plugin}" DIRECTORY)
    install(FILES "${K5_QT_WINDOWS_PREFIX}/plugins/${plugin}"
      DESTINATION "${destination}/${folder}")
  endforeach()
endfunction()
