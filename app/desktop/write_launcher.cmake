# Writes the launcher ratemover.desktop for the directory the programs were
# installed into. Run at install time with
#   TEMPLATE  the launcher with @RATEMOVER_EXEC@, @RATEMOVER_PATH@, @RATEMOVER_ICON@
#   PROGRAM_DIR  the installed program directory, absolute
#   ICON      an icon name of the theme, or an absolute file
#   OUTPUT    the file to write (DESTDIR included)
#   EXECUTABLE  ON to make the file executable (a launcher that is double-clicked
#               in a folder must be)

# A string value: a backslash is written doubled.
function(desktop_string value out)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\n" "\\n" value "${value}")
  string(REPLACE "\t" "\\t" value "${value}")
  string(REPLACE "\r" "\\r" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# One argument of Exec, quoted whole: inside the quotes ", `, $ and \ take a
# backslash, % is doubled, and then the whole is a string value.
function(desktop_exec_argument value out)
  string(REPLACE "\\" "\\\\" value "${value}")
  string(REPLACE "\"" "\\\"" value "${value}")
  string(REPLACE "`" "\\`" value "${value}")
  string(REPLACE "$" "\\$" value "${value}")
  string(REPLACE "%" "%%" value "${value}")
  desktop_string("\"${value}\"" value)
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

desktop_exec_argument("${PROGRAM_DIR}/ratemover" RATEMOVER_EXEC)
desktop_string("${PROGRAM_DIR}" RATEMOVER_PATH)
desktop_string("${ICON}" RATEMOVER_ICON)
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
if(EXECUTABLE)
  file(CHMOD "${OUTPUT}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
       WORLD_EXECUTE)
else()
  file(CHMOD "${OUTPUT}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
message(STATUS "Installing: ${OUTPUT}")
