# cmake -DFILES="a;b" -P maven-checksums.cmake: writes a.sha1, a.md5, ... as a
# Maven repository holds them beside each file (the bare hex digest).
foreach(f IN LISTS FILES)
  foreach(algo sha1 md5)
    string(TOUPPER ${algo} ALGO)
    file(${ALGO} ${f} digest)
    file(WRITE ${f}.${algo} ${digest})
  endforeach()
endforeach()
