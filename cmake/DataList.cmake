# Writes the list of the files of a data directory, one path a line, sorted,
# so that lumo can tell an installed data directory that lost a file from a
# whole one. Run as: cmake -DDIR=data -DOUT=data/contents.txt -P DataList.cmake
file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${DIR} ${DIR}/*)
get_filename_component(list_name ${OUT} NAME)
list(REMOVE_ITEM files .datagen-stamp ${list_name})
list(SORT files)
set(text "")
foreach(file IN LISTS files)
  string(APPEND text "${file}\n")
endforeach()
# Written whole under another name first: a half-written list would make a
# whole directory look incomplete.
file(WRITE ${OUT}.part "${text}")
file(RENAME ${OUT}.part ${OUT})
