# Run by `cmake --install`: writes the desktop entry with the absolute path of the installed
# program, so the menu starts it whether or not the prefix's bin folder is on PATH.
# The install rule sets SORVANE_DESKTOP_TEMPLATE and SORVANE_DESKTOP_ENTRY (where the entry is
# written in the build tree) before this script runs.
set(program "${CMAKE_INSTALL_PREFIX}/bin/sorvane")

# Exec takes a quoted argument (\ " ` $ escaped by a backslash), and the whole value is then a
# desktop-entry string, whose own escape doubles every backslash; % starts a field code.
string(REGEX REPLACE "([\\\\\"`$])" "\\\\\\1" argument "${program}")
string(REPLACE "\\" "\\\\" SORVANE_EXEC "\"${argument}\"")
string(REPLACE "%" "%%" SORVANE_EXEC "${SORVANE_EXEC}")
string(REPLACE "\\" "\\\\" SORVANE_TRYEXEC "${program}")

configure_file("${SORVANE_DESKTOP_TEMPLATE}" "${SORVANE_DESKTOP_ENTRY}" @ONLY)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE FILES "${SORVANE_DESKTOP_ENTRY}")
