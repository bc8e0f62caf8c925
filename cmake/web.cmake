# The web page: the same program built to WebAssembly by emscripten, run in
# a worker of a page that needs neither a server nor a network.

# Run as a script (-P), it wraps the module's glue, its WebAssembly (as hex),
# run.js and worker.js in one function of a classic script: a page opened
# from a file may start a worker from a Blob of that function's source, but
# may not load one by name, and the module is given its bytes rather than
# fetching them.
if(CMAKE_SCRIPT_MODE_FILE)
  file(READ "${wasm}" hex HEX)
  set(text "function codelist_worker() {\nconst codelist_wasm_hex = '${hex}';\n")
  foreach(part "${glue}" "${run}" "${worker}")
    file(READ "${part}" content)
    string(APPEND text "${content}\n")
  endforeach()
  file(WRITE "${output}" "${text}}\n")
  return()
endif()

# The module and its WebAssembly, which the page embeds; no eval, which the
# page's policy forbids; a fixed memory that cannot grow, so that the
# program visibly never holds a list whole. A read of code.txt may wait for
# the page (Asyncify, on the one import that reads), and nothing that waits
# is called through a pointer. The program ends as it ends anywhere: static
# objects destroyed and the console flushed.
set(CODELIST_WEB_MEMORY 4MB CACHE STRING "The WebAssembly program's memory, which never grows")
# The page's second entry, beside main: why each line was kept or dropped.
target_sources(codelist PRIVATE ${PROJECT_SOURCE_DIR}/src/explain_main.cpp)
target_link_options(codelist PRIVATE
  -sMODULARIZE=1 -sEXPORT_NAME=create_codelist
  -sEXPORTED_FUNCTIONS=_main,_codelist_explain
  -sINVOKE_RUN=0 -sEXIT_RUNTIME=1 -sFORCE_FILESYSTEM=1
  -sEXPORTED_RUNTIME_METHODS=FS -sDYNAMIC_EXECUTION=0
  -sENVIRONMENT=web,worker,node -sNODEJS_CATCH_EXIT=0 -sNODEJS_CATCH_REJECTION=0
  -sINITIAL_MEMORY=${CODELIST_WEB_MEMORY} -sALLOW_MEMORY_GROWTH=0 -sTOTAL_STACK=256KB
  -sASYNCIFY=1 -sASYNCIFY_IGNORE_INDIRECT=1
  "-sASYNCIFY_IMPORTS=['wasi_snapshot_preview1.fd_read']"
  --post-js ${PROJECT_SOURCE_DIR}/web/module_end.js)
set_property(TARGET codelist APPEND PROPERTY LINK_DEPENDS ${PROJECT_SOURCE_DIR}/web/module_end.js)
# The SSE2 loops become WebAssembly SIMD.
if(CODELIST_SIMD)
  target_compile_options(textio PRIVATE -msimd128 -msse2)
  target_compile_options(codelist_core PRIVATE -msimd128 -msse2)
  target_link_options(codelist PRIVATE -msimd128)
endif()

set(web_source ${PROJECT_SOURCE_DIR}/web)
set(web_page ${PROJECT_BINARY_DIR}/page)
set(web_files index.html page.js style.css)
set(web_outputs ${web_page}/codelist-worker.js)
add_custom_command(OUTPUT ${web_page}/codelist-worker.js
  COMMAND ${CMAKE_COMMAND} -Dglue=$<TARGET_FILE:codelist>
          -Dwasm=$<TARGET_FILE_DIR:codelist>/codelist.wasm
          -Drun=${web_source}/run.js -Dworker=${web_source}/worker.js
          -Doutput=${web_page}/codelist-worker.js -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS codelist ${web_source}/run.js ${web_source}/worker.js ${CMAKE_CURRENT_LIST_FILE}
  VERBATIM)
foreach(name IN LISTS web_files)
  add_custom_command(OUTPUT ${web_page}/${name}
    COMMAND ${CMAKE_COMMAND} -E copy ${web_source}/${name} ${web_page}/${name}
    DEPENDS ${web_source}/${name}
    VERBATIM)
  list(APPEND web_outputs ${web_page}/${name})
endforeach()
add_custom_target(web_page ALL DEPENDS ${web_outputs})

# The page's files; the zip holds them beside the guides, the licence and the
# example, as the Windows zip holds the program.
function(codelist_install_web_page)
  install(FILES ${web_outputs} DESTINATION .)
endfunction()
