# The plug-in may take from its process only what a per-sample path without
# allocation, locks or I/O needs: mi_phen_eval, the mathematics functions and
# the runtime's own start-up symbols. Fails naming any other import of the
# kinds that allocate, lock, or read and write files.
#   cmake -DNM=nm -DPLUGIN=strataMix.so -P plugin_imports.cmake
execute_process(COMMAND ${NM} -D --undefined-only ${PLUGIN}
                OUTPUT_VARIABLE imports RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${NM} failed on ${PLUGIN}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${imports}")
set(forbidden "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* ([^ @]+)(@.*)?$" "\\1" name "${line}")
  if(name MATCHES "^(malloc|calloc|realloc|free|aligned_alloc|posix_memalign|memalign|_Znw|_Zna|_Zdl|_Zda|__cxa_allocate|pthread_|mtx_|sem_|__cxa_guard|f?printf|v?fprintf|puts|fputs|fwrite|write|read|open|fopen|close|std::|_ZSt4cout|_ZSt4cerr|__cxa_throw)")
    list(APPEND forbidden ${name})
  endif()
endforeach()
if(forbidden)
  message(FATAL_ERROR "${PLUGIN} imports ${forbidden}")
endif()
message(STATUS "${PLUGIN} imports only:\n${imports}")
