# The JNI library, telling its version (NativeLoader.nVersion); the jar loads
# only its own version. Only the JNI entry points are exported: by the
# version script on ELF systems, by JNIEXPORT (dllexport) on Windows, where
# the file is rovaz.dll, as System.mapLibraryName names it.
# Its sources are ROVAZ_BINDING_SOURCES (cmake/RovazSources.cmake).
function(rovaz_jni_library target version)
  add_library(${target} SHARED ${ROVAZ_BINDING_SOURCES})
  target_include_directories(${target} PRIVATE ${ROVAZ_JNI_INCLUDE_DIRS})
  target_link_libraries(${target} PRIVATE rovaz_core)
  target_compile_definitions(${target} PRIVATE ROVAZ_VERSION="${version}")
  set_target_properties(${target} PROPERTIES CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)
  if(WIN32)
    set_target_properties(${target} PROPERTIES PREFIX "")
  else()
    set_target_properties(${target} PROPERTIES LINK_DEPENDS ${CMAKE_SOURCE_DIR}/src/binding/exports.map)
    target_link_options(${target} PRIVATE -Wl,--version-script=${CMAKE_SOURCE_DIR}/src/binding/exports.map)
  endif()
endfunction()
