# The fuzz targets, named once. tests/fuzz builds each as the libFuzzer
# program fuzz_<name>, tests/fuzz-regress replays its corpus (corpus/<name>)
# in the normal build, and tools/run-fuzzers.sh takes the list from the
# fuzz build (fuzz-targets.txt there).
set(SERVOPROG_FUZZ_TARGETS ihex srec fwinfo link compress)

# servoprog_fuzz_sources(PROGRAM NAME): PROGRAM gets the source of fuzz
# target NAME and the library it tests. ihex and srec share one source,
# which reads S-records when built with FUZZ_SREC.
function(servoprog_fuzz_sources program name)
  set(source fuzz_${name}.cpp)
  set(lib servoprog_image)
  if(name MATCHES "^(ihex|srec)$")
    set(source fuzz_image.cpp)
  elseif(name STREQUAL "link")
    set(lib servoprog_protocol)
  elseif(name STREQUAL "compress")
    set(lib servoprog_compress)
  endif()
  target_sources(${program} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${source})
  target_include_directories(${program} PRIVATE ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  target_link_libraries(${program} PRIVATE ${lib})
  if(name STREQUAL "srec")
    target_compile_definitions(${program} PRIVATE FUZZ_SREC)
  endif()
endfunction()
