# Writes a header holding the text of data files as a platform::BuiltinFile
# array (platform/program_data.h), for the programs' built-in copies.
# OUTPUT: the header; NAME: the array's name; FILES: the files, "|"-separated.
string(REPLACE "|" ";" files "${FILES}")
set(delimiter "firmora_data")
set(body "")
foreach(file IN LISTS files)
  get_filename_component(name "${file}" NAME)
  file(READ "${file}" text)
  string(FIND "${text}" ")${delimiter}\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${file} holds the raw string's end \")${delimiter}\"")
  endif()
  string(APPEND body "    {\"${name}\", R\"${delimiter}(${text})${delimiter}\"},\n")
endforeach()
file(WRITE "${OUTPUT}.new"
     "// Made by the build from the data files named in it; do not edit.\n#pragma once\n\n"
     "#include \"platform/program_data.h\"\n\n"
     "namespace firmora::program_data {\n\n"
     "inline constexpr platform::BuiltinFile ${NAME}[] = {\n${body}};\n\n}  // namespace firmora::program_data\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
