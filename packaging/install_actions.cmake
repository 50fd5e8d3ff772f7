# Runs at install time (cmake --install, the Debian package build) from cmake_install.cmake, in
# its scope, so that the files it writes (under DESTDIR when set) join the install manifest.
# Writes the file-manager actions for the prefix being installed to (every Exec names
# <prefix>/bin/quillop-share, quoted as launchers and shells parse it) and installs them where
# each file manager looks. Fails the install when the prefix holds a tab or a line break, which no
# Exec line can carry.
# Input: QUILLOP_PACKAGING_SOURCE (the templates), QUILLOP_NAUTILUS_LINK (a prebuilt relative link
# to the installed Nautilus script). Writes nothing into the build tree.

cmake_policy(VERSION 3.25)  # cmake_install.cmake sets none; include() scopes this to the file

set(_quillop_program "${CMAKE_INSTALL_PREFIX}/bin/quillop-share")
if(_quillop_program MATCHES "[\t\r\n]")
  message(FATAL_ERROR "quillop-share: the install prefix must not hold a tab or a line break")
endif()

# Exec value: the program path, quoted when it holds a reserved character, then escaped as a
# desktop-entry string ("\" doubled) with every "%" doubled (a literal percent sign).
if(_quillop_program MATCHES "^[A-Za-z0-9_./+,:=@-]+$")
  set(QUILLOP_EXEC "${_quillop_program}")
else()
  set(_quillop_quoted "${_quillop_program}")
  string(REPLACE "\\" "\\\\" _quillop_quoted "${_quillop_quoted}")
  string(REPLACE "\"" "\\\"" _quillop_quoted "${_quillop_quoted}")
  string(REPLACE "`" "\\`" _quillop_quoted "${_quillop_quoted}")
  string(REPLACE "$" "\\$" _quillop_quoted "${_quillop_quoted}")
  string(REPLACE "\\" "\\\\" _quillop_quoted "${_quillop_quoted}")
  set(QUILLOP_EXEC "\"${_quillop_quoted}\"")
endif()
string(REPLACE "%" "%%" QUILLOP_EXEC "${QUILLOP_EXEC}")
if(_quillop_program MATCHES "%")
  message(WARNING "quillop-share: GLib-based launchers (GNOME, Thunar) find no program whose "
                  "path holds \"%\"; the actions will not start from them")
endif()

# The same path as one single-quoted shell word.
string(REPLACE "'" "'\\''" QUILLOP_SHARE_SH "${_quillop_program}")
set(QUILLOP_SHARE_SH "'${QUILLOP_SHARE_SH}'")

# The same path as a Python string literal (no line break can occur, see above).
string(REPLACE "\\" "\\\\" QUILLOP_SHARE_PY "${_quillop_program}")
string(REPLACE "'" "\\'" QUILLOP_SHARE_PY "${QUILLOP_SHARE_PY}")
set(QUILLOP_SHARE_PY "'${QUILLOP_SHARE_PY}'")

# Whether this install goes to the user's own data folder (a plain --prefix ~/.local install):
# only then do KIO and Nautilus need the extra steps below.
set(_quillop_share "${CMAKE_INSTALL_PREFIX}/share")
set(_quillop_user_install FALSE)
if("$ENV{DESTDIR}" STREQUAL "")
  if("$ENV{XDG_DATA_HOME}" MATCHES "^/")
    set(_quillop_data_home "$ENV{XDG_DATA_HOME}")
  elseif(NOT "$ENV{HOME}" STREQUAL "")
    set(_quillop_data_home "$ENV{HOME}/.local/share")
  else()
    set(_quillop_data_home "")
  endif()
  if(NOT _quillop_data_home STREQUAL "")
    file(REAL_PATH "${_quillop_share}" _quillop_share_real)
    file(REAL_PATH "${_quillop_data_home}" _quillop_data_home)
    if(_quillop_share_real STREQUAL _quillop_data_home)
      set(_quillop_user_install TRUE)
    endif()
  endif()
endif()

# Writes one action from its template straight to its place (DESTDIR honoured), with the mode
# given, and records it in the install manifest as file(INSTALL) would.
macro(_quillop_install_action template folder name)
  set(_quillop_target "${CMAKE_INSTALL_PREFIX}/share/${folder}/${name}")
  message(STATUS "Installing: $ENV{DESTDIR}${_quillop_target}")
  configure_file("${QUILLOP_PACKAGING_SOURCE}/${template}" "$ENV{DESTDIR}${_quillop_target}" @ONLY)
  file(CHMOD "$ENV{DESTDIR}${_quillop_target}" PERMISSIONS ${ARGN})
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${_quillop_target}")
endmacro()

set(_quillop_read OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(_quillop_run ${_quillop_read} OWNER_EXECUTE GROUP_EXECUTE WORLD_EXECUTE)
_quillop_install_action(ex.quillop.mac.share.desktop.in applications
                        ex.quillop.mac.share.desktop ${_quillop_read})
# KIO refuses service menus outside the system data folders (~/.local/share) unless executable.
if(_quillop_user_install)
  set(_quillop_service_menu_mode ${_quillop_run})
else()
  set(_quillop_service_menu_mode ${_quillop_read})
endif()
_quillop_install_action(kio-servicemenu.desktop.in kio/servicemenus
                        ex.quillop.mac.share.desktop ${_quillop_service_menu_mode})
_quillop_install_action(nemo-action.in nemo/actions
                        ex.quillop.mac.share.nemo_action ${_quillop_read})
_quillop_install_action(thunar-sendto.desktop.in Thunar/sendto
                        ex.quillop.mac.share.desktop ${_quillop_read})
# nautilus-python and caja-python load extensions from every data folder (system and the user's
# own); one template serves both.
set(QUILLOP_FILE_MANAGER Nautilus)
set(QUILLOP_SCRIPTS_PY "GLib.get_user_data_dir(), 'nautilus', 'scripts'")
_quillop_install_action(nautilus-extension.py.in nautilus-python/extensions
                        invia_con_movarix.py ${_quillop_read})
set(QUILLOP_FILE_MANAGER Caja)
set(QUILLOP_SCRIPTS_PY "GLib.get_user_config_dir(), 'caja', 'scripts'")
_quillop_install_action(nautilus-extension.py.in caja-python/extensions
                        invia_con_movarix.py ${_quillop_read})
# pcmanfm-qt reads FileManager-Actions entries from every data folder.
_quillop_install_action(file-manager-action.desktop.in file-manager/actions
                        ex.quillop.mac.share.desktop ${_quillop_read})
# Nautilus reads scripts from the user's own data folder only: the script goes beside the other
# files, and is linked into nautilus/scripts when the prefix's share folder is that data folder.
_quillop_install_action(nautilus-script.in quillop-share/nautilus
                        "Invia con Movarix" ${_quillop_run})
if(_quillop_user_install)
  file(INSTALL DESTINATION "${_quillop_share}/nautilus/scripts" TYPE FILE
       FILES "${QUILLOP_NAUTILUS_LINK}")
endif()
