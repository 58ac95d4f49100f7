# setup_embed_manifest(TARGET LEVEL): the Windows program TARGET carries an
# application manifest, resource type 24 (RT_MANIFEST), id 1, through windres:
# LEVEL is its requestedExecutionLevel (asInvoker or highestAvailable), and
# it names the Windows versions from Vista to 11 as supported, so that none
# of them applies the heuristics for legacy programs (installer detection,
# file and registry virtualization, an older version reported). Nothing else:
# no visual styles, no DPI awareness, since the layout is in pixels.
# Natively it does nothing.
function(setup_embed_manifest target level)
  if(NOT WIN32)
    return()
  endif()
  if(NOT level MATCHES "^(asInvoker|highestAvailable)$")
    message(FATAL_ERROR "setup_embed_manifest(${target} ${level}): asInvoker or highestAvailable")
  endif()
  set(SETUP_MANIFEST_LEVEL ${level})
  set(manifest ${CMAKE_CURRENT_BINARY_DIR}/${target}.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/manifest.xml.in ${manifest} @ONLY)
  file(CONFIGURE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest.rc
       CONTENT "// The application manifest of ${target}.\n1 24 \"${manifest}\"\n")
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest.rc)
  # windres reads the file while it compiles the .rc: a new manifest rebuilds it.
  set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest.rc APPEND PROPERTY OBJECT_DEPENDS ${manifest})
endfunction()
