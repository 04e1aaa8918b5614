# The folders under src/ are layers; each builds one static library, and a library may link only
# the layers below it. Qt stays out of the layers that must build without it. A wrong
# target_link_libraries then fails the configure step instead of waiting for a review.
#
#   ui -> models -> pipeline -> net -> cd -> audio, settings, platform
#   (models: the windows' logic without widgets; net: the network clients)
#   cli -> pipeline (and below), never a widget library: sonvale-cli runs without a display
#   settings -> platform_os (the Qt-free half of platform: files, folders, profile files)
#   audio, platform_os -> nothing of ours

set(SONVALE_LAYER_RULES
  "sonvale_platform_os:"
  "sonvale_settings:sonvale_platform_os"
  "sonvale_audio:"
  "sonvale_platform:sonvale_platform_os"
  "sonvale_platform_widgets:sonvale_platform"
  "sonvale_cd:sonvale_audio,sonvale_settings,sonvale_platform,sonvale_platform_os"
  "sonvale_net:sonvale_cd,sonvale_audio,sonvale_settings,sonvale_platform,sonvale_platform_os"
  "sonvale_pipeline:sonvale_net,sonvale_cd,sonvale_audio,sonvale_settings,sonvale_platform,sonvale_platform_os"
  "sonvale_models:sonvale_pipeline,sonvale_net,sonvale_cd,sonvale_audio,sonvale_settings,sonvale_platform,sonvale_platform_os"
  "sonvale_ui:sonvale_models,sonvale_pipeline,sonvale_net,sonvale_cd,sonvale_audio,sonvale_settings,sonvale_platform,sonvale_platform_widgets,sonvale_platform_os"
  "sonvale_cli:sonvale_pipeline,sonvale_net,sonvale_cd,sonvale_audio,sonvale_settings,sonvale_platform,sonvale_platform_os"
  "sonvale-cli:sonvale_cli")
set(SONVALE_NO_QT sonvale_platform_os sonvale_settings sonvale_audio)
set(SONVALE_NO_WIDGETS sonvale_platform sonvale_cd sonvale_net sonvale_pipeline sonvale_models sonvale_cli sonvale-cli)

function(sonvale_check_layers)
  foreach(rule IN LISTS SONVALE_LAYER_RULES)
    string(REPLACE ":" ";" parts "${rule}")
    list(GET parts 0 target)
    list(LENGTH parts n)
    set(allowed "")
    if(n GREATER 1)
      list(GET parts 1 allowed)
      string(REPLACE "," ";" allowed "${allowed}")
    endif()
    if(NOT TARGET ${target})
      continue()
    endif()
    get_target_property(links ${target} LINK_LIBRARIES)
    if(NOT links)
      set(links "")
    endif()
    foreach(lib IN LISTS links)
      if(lib MATCHES "^sonvale_" AND NOT lib IN_LIST allowed)
        message(FATAL_ERROR "${target} may not link ${lib}: layers link only downwards (cmake/Layers.cmake)")
      endif()
      if(target IN_LIST SONVALE_NO_WIDGETS AND lib MATCHES "Widgets")
        message(FATAL_ERROR "${target} must build without a widget library but links ${lib}")
      endif()
      if(target IN_LIST SONVALE_NO_QT AND lib MATCHES "Qt")
        message(FATAL_ERROR "${target} must build without Qt but links ${lib}")
      endif()
    endforeach()
  endforeach()
endfunction()
