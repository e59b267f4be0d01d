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

# A program whose path holds % is started through env. GLib looks for the
# program named first in Exec before it undoes %%, and finds no
# ".../100%%/ratemover": the launcher would pass desktop-file-validate and
# never start. The program after env is an argument, which every desktop
# unescapes.
desktop_exec_argument("${PROGRAM_DIR}/ratemover" RATEMOVER_EXEC)
string(FIND "${PROGRAM_DIR}" "%" percent_at)
if(NOT percent_at EQUAL -1)
  set(RATEMOVER_EXEC "env ${RATEMOVER_EXEC}")
endif()
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
