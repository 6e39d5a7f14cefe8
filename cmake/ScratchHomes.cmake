# Makes the tests' scratch homes afresh:
#   cmake -DROOT=<folder> -DTESTS=a,b,c -P ScratchHomes.cmake
# Each test gets ROOT/<test> as HOME, with an empty private run folder.
file(REMOVE_RECURSE "${ROOT}")
string(REPLACE "," ";" tests "${TESTS}")
foreach(test ${tests})
  file(MAKE_DIRECTORY "${ROOT}/${test}/.local/share" "${ROOT}/${test}/.config" "${ROOT}/${test}/run")
  file(CHMOD "${ROOT}/${test}/run" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
endforeach()
