# Writes OUTPUT: a header holding each of INPUTS (a ;-list of NAME=FILE) as a raw string constant,
# so that the serve page is part of the binary.
set(text "// Generated from tools/hairlab/web; edit those files.\n#pragma once\n\nnamespace hairlab {\n")
foreach(item IN LISTS INPUTS)
  string(REPLACE "=" ";" pair "${item}")
  list(GET pair 0 name)
  list(GET pair 1 file)
  file(READ "${file}" content)
  string(APPEND text "inline constexpr char ${name}[] = R\"HAIRLABWEB(${content})HAIRLABWEB\";\n")
endforeach()
string(APPEND text "\n} // namespace hairlab\n")
file(WRITE "${OUTPUT}.tmp" "${text}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
