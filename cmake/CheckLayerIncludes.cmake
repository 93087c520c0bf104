# cmake -DFILES=<a|b|...> -DFORBID=<header|...> -DSTAMP=<file> -P CheckLayerIncludes.cmake
#
# Fails when one of FILES includes one of the FORBID headers; touches STAMP otherwise.
string(REPLACE "|" ";" FILES "${FILES}")
string(REPLACE "|" ";" FORBID "${FORBID}")
foreach(file IN LISTS FILES)
  file(STRINGS "${file}" includes REGEX "^#include \"")
  foreach(header IN LISTS FORBID)
    foreach(line IN LISTS includes)
      if(line STREQUAL "#include \"${header}\"")
        message(FATAL_ERROR "${file} includes ${header}, which its layer may not use")
      endif()
    endforeach()
  endforeach()
endforeach()
file(TOUCH "${STAMP}")
