# The source files of the library, listed one by one (a new file is added here), and a check, run
# at every configure, that each .cpp file under a folder of sources is listed exactly once.
# Included by the top-level project and by fuzz/ on its own; ROVAZ_ROOT is the checkout.
if(NOT DEFINED ROVAZ_ROOT)
  get_filename_component(ROVAZ_ROOT ${CMAKE_CURRENT_LIST_DIR} DIRECTORY)
endif()

# Decoder core, Layers I to III and the stream layer: rovaz_core, rovaz_shared and the fuzz cores.
set(ROVAZ_CORE_SOURCES
  ${ROVAZ_ROOT}/src/core/cpu.cpp
  ${ROVAZ_ROOT}/src/core/crc.cpp
  ${ROVAZ_ROOT}/src/core/crc_tables.cpp
  ${ROVAZ_ROOT}/src/core/decode_step.cpp
  ${ROVAZ_ROOT}/src/core/decoder.cpp
  ${ROVAZ_ROOT}/src/core/frame.cpp
  ${ROVAZ_ROOT}/src/core/frame_ctx.cpp
  ${ROVAZ_ROOT}/src/core/grouping_tables.cpp
  ${ROVAZ_ROOT}/src/core/header.cpp
  ${ROVAZ_ROOT}/src/core/header_tables.cpp
  ${ROVAZ_ROOT}/src/core/kernels.cpp
  ${ROVAZ_ROOT}/src/core/pcm_output.cpp
  ${ROVAZ_ROOT}/src/core/platform.cpp
  ${ROVAZ_ROOT}/src/core/version.cpp
  ${ROVAZ_ROOT}/src/layer12/layer1.cpp
  ${ROVAZ_ROOT}/src/layer12/layer12_tables.cpp
  ${ROVAZ_ROOT}/src/layer12/layer2.cpp
  ${ROVAZ_ROOT}/src/layer12/layer1_dequantise.cpp
  ${ROVAZ_ROOT}/src/layer12/layer2_dequantise.cpp
  ${ROVAZ_ROOT}/src/layer12/synthesis.cpp
  ${ROVAZ_ROOT}/src/layer12/synthesis_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/granule.cpp
  ${ROVAZ_ROOT}/src/layer3/huffman.cpp
  ${ROVAZ_ROOT}/src/layer3/huffman_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/hybrid.cpp
  ${ROVAZ_ROOT}/src/layer3/hybrid_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/layer3_decode.cpp
  ${ROVAZ_ROOT}/src/layer3/pow43_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/requantize.cpp
  ${ROVAZ_ROOT}/src/layer3/requantize_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/scalefactor_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/scalefactors.cpp
  ${ROVAZ_ROOT}/src/layer3/sfb_tables.cpp
  ${ROVAZ_ROOT}/src/layer3/stereo.cpp
  ${ROVAZ_ROOT}/src/layer3/stereo_tables.cpp
  ${ROVAZ_ROOT}/src/stream/byte_window.cpp
  ${ROVAZ_ROOT}/src/stream/frame_index.cpp
  ${ROVAZ_ROOT}/src/stream/frame_run.cpp
  ${ROVAZ_ROOT}/src/stream/framer.cpp
  ${ROVAZ_ROOT}/src/stream/id3_genres.cpp
  ${ROVAZ_ROOT}/src/stream/info_frame.cpp
  ${ROVAZ_ROOT}/src/stream/sample_convert.cpp
  ${ROVAZ_ROOT}/src/stream/stream_api.cpp
  ${ROVAZ_ROOT}/src/stream/stream_decode.cpp
  ${ROVAZ_ROOT}/src/stream/stream_parallel.cpp
  ${ROVAZ_ROOT}/src/stream/stream_seek.cpp
  ${ROVAZ_ROOT}/src/stream/stream_start.cpp
  ${ROVAZ_ROOT}/src/stream/tags.cpp
)

# The JNI library.
set(ROVAZ_BINDING_SOURCES
  ${ROVAZ_ROOT}/src/binding/frame_convert.cpp
  ${ROVAZ_ROOT}/src/binding/handle_table.cpp
  ${ROVAZ_ROOT}/src/binding/mpa_jni.cpp
  ${ROVAZ_ROOT}/src/binding/set_int_field.cpp
  ${ROVAZ_ROOT}/src/binding/stream_jni.cpp
)

# Fails the configure when a file matching GLOB (under the checkout, recursively) is in none of the
# lists that follow, when a listed file is not there, or when one is listed twice.
function(rovaz_check_listed glob)
  file(GLOB_RECURSE present RELATIVE ${ROVAZ_ROOT} ${ROVAZ_ROOT}/${glob})
  set(seen)
  set(problems)
  foreach(file IN LISTS ARGN)
    file(RELATIVE_PATH file ${ROVAZ_ROOT} ${file})
    if(file IN_LIST seen)
      list(APPEND problems "${file}: listed twice")
    elseif(NOT EXISTS ${ROVAZ_ROOT}/${file})
      list(APPEND problems "${file}: listed, but not there")
    endif()
    list(APPEND seen ${file})
  endforeach()
  foreach(file IN LISTS present)
    if(NOT file IN_LIST seen)
      list(APPEND problems "${file}: not listed")
    endif()
  endforeach()
  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Source lists out of date (${CMAKE_CURRENT_LIST_FILE}):\n  ${text}")
  endif()
endfunction()

rovaz_check_listed("src/*.cpp" ${ROVAZ_CORE_SOURCES} ${ROVAZ_BINDING_SOURCES})
