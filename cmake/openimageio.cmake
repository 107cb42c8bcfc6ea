# Finds OpenImageIO for stratamix preview and defines the imported target
# strata::OpenImageIO. Debian's own CMake package for it names an include
# folder and Python modules that its -dev package does not install, so the
# library is found by its header and its two shared libraries instead.
find_path(STRATAMIX_OIIO_INCLUDE_DIR OpenImageIO/imagebuf.h)
find_library(STRATAMIX_OIIO_LIBRARY OpenImageIO)
find_library(STRATAMIX_OIIO_UTIL_LIBRARY OpenImageIO_Util)
if(STRATAMIX_OIIO_INCLUDE_DIR AND STRATAMIX_OIIO_LIBRARY AND STRATAMIX_OIIO_UTIL_LIBRARY)
  set(OpenImageIO_FOUND TRUE)
  if(NOT TARGET strata::OpenImageIO)
    add_library(strata::OpenImageIO INTERFACE IMPORTED)
    target_include_directories(strata::OpenImageIO SYSTEM INTERFACE ${STRATAMIX_OIIO_INCLUDE_DIR})
    target_link_libraries(strata::OpenImageIO
      INTERFACE ${STRATAMIX_OIIO_LIBRARY} ${STRATAMIX_OIIO_UTIL_LIBRARY})
  endif()
else()
  set(OpenImageIO_FOUND FALSE)
endif()
