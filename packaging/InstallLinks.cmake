# Run at install time (when the prefix is final): the "korvel" link in bin and the desktop entry that names
# the installed bundle. Expects KORVEL_INSTALL_BUNDLE_DIR, KORVEL_DESKTOP_ID and KORVEL_SUMMARY.
set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(bundle "${CMAKE_INSTALL_PREFIX}/${KORVEL_INSTALL_BUNDLE_DIR}")

file(MAKE_DIRECTORY "${root}/bin" "${root}/share/applications")
file(RELATIVE_PATH target "${CMAKE_INSTALL_PREFIX}/bin" "${bundle}/Contents/MacOS/Korvel")
file(CREATE_LINK "${target}" "${root}/bin/korvel" SYMBOLIC)
message(STATUS "Installing: ${root}/bin/korvel -> ${target}")

# The rules of DesktopEntry::execLine and DesktopEntry::format: inside double quotes \ " ` $ take a
# backslash and % is doubled; then every backslash of the value is doubled. A path with a % is started through
# /bin/sh, for GLib looks for the program as written.
set(exec "${bundle}/Contents/MacOS/Korvel")
set(shell "")
if(exec MATCHES "%")
    set(shell [=[/bin/sh -c "exec \\"\\$0\\" \\"\\$@\\"" ]=])
endif()
foreach(special "\\" "\"" "`" "$")
    string(REPLACE "${special}" "\\${special}" exec "${exec}")
endforeach()
string(REPLACE "%" "%%" exec "${exec}")
string(REPLACE "\\" "\\\\" exec "${exec}")
string(REPLACE "\\" "\\\\" bundleValue "${bundle}")

set(entry "${root}/share/applications/${KORVEL_DESKTOP_ID}")
file(WRITE "${entry}" "[Desktop Entry]
Type=Application
Name=Korvel
Comment=${KORVEL_SUMMARY}
Exec=${shell}\"${exec}\" %u
Icon=korvel
MimeType=x-scheme-handler/claude;
Categories=Utility;
Keywords=Claude;account;profile;
Terminal=false
X-Korvel-Bundle=${bundleValue}
")
message(STATUS "Installing: ${entry}")
