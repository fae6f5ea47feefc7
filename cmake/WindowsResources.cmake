# Windows resources of the desktop programs: resources/<name>.rc carries the program's icon
# (resources/<name>.ico, made by scripts/windows-icons.sh), which Explorer and the taskbar
# show and which the window takes as its own, and the kit's application manifest
# (resources/k5kit.manifest).
enable_language(RC)

function(k5_add_windows_icon target name)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/resources/${name}.rc)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/resources/${name}.rc APPEND PROPERTY
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/resources/${name}.ico;${PROJECT_SOURCE_DIR}/resources/k5kit.manifest")
endfunction()

# The application manifest alone, for a console program (resources/k5ctl.rc).
function(k5_add_windows_manifest target rc)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/resources/${rc}.rc)
  set_property(SOURCE ${PROJECT_SOURCE_DIR}/resources/${rc}.rc APPEND PROPERTY
    OBJECT_DEPENDS ${PROJECT_SOURCE_DIR}/resources/k5kit.manifest)
  target_include_directories(${target} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${PROJECT_SOURCE_DIR}>)
endfunction()

# The DLLs and plugin folders a desktop program needs, beside it in the Windows zip (the
# programs themselves are installed with the others, at the top of the zip).
function(k5_package_windows_program target)
  get_property(done GLOBAL PROPERTY K5_QT_RUNTIME_INSTALLED)
  if(NOT done)
    k5_install_qt_runtime(.)
    set_property(GLOBAL PROPERTY K5_QT_RUNTIME_INSTALLED ON)
  endif()
endfunction()
