# Writes README.txt for the Windows zip: the README's sections on usage, the
# script format, the exit status and things to know, with CR LF line ends so
# that Notepad shows it properly.
#   cmake -DREADME=README.md -DOUTPUT=README.txt -DVERSION=1.0.0 -P readme-txt.cmake
file(READ "${README}" md)
set(text "rcon-script ${VERSION} for 32-bit Windows\n\n")
foreach(section "Usage" "Script format" "Exit status" "Things to know")
  string(FIND "${md}" "\n## ${section}\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "${README} has no section \"${section}\"")
  endif()
  math(EXPR start "${start} + 1")
  string(SUBSTRING "${md}" ${start} -1 rest)
  string(FIND "${rest}" "\n## " end)
  string(SUBSTRING "${rest}" 0 ${end} part)
  string(APPEND text "${part}\n")
endforeach()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUTPUT}" "${text}")
