# cmake -DFROM=BUILD -DTO=FOLDER -DFILES="a|b/c" -P Stage.cmake: copies each of FILES (paths
# below BUILD) to the same path below FOLDER.
string(REPLACE "|" ";" FILES "${FILES}")
foreach(file ${FILES})
  get_filename_component(dir "${TO}/${file}" DIRECTORY)
  file(COPY "${FROM}/${file}" DESTINATION "${dir}")
endforeach()
