# Installation layout and the Debian package (cpack -G DEB).
#
# The package installs the program and the table tool into /usr/bin, the
# desktop entry, icon, AppStream metainfo and man pages where desktops and
# man look for them, and the files of a fresh team folder into
# /usr/share/veltra-log. A team lays out its shared team folder from them
# with veltra-log-setup-folder and starts the program on it with
# `veltra-log --folder FOLDER`; the install rules for those files are in
# dist/CMakeLists.txt.
include(GNUInstallDirs)

if(TARGET veltra-log)
  install(TARGETS veltra-log RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS vltable RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_PACKAGE_NAME veltra-log)
set(CPACK_PACKAGE_VENDOR "Veltra Log maintainers")
set(CPACK_PACKAGE_CONTACT "Veltra Log maintainers <maintainers@users.noreply.c-seed-a2f6ac37.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "shared ticket log for small teams")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://veltralog.example.org/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debug information stays in the build tree; the package carries stripped
# programs.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The text after the summary line (CPack puts the summary above it and
# indents each line by one blank, as dpkg wants).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Veltra Log keeps a team's tickets in logs on a shared folder. Each ticket
has a title, submitter, state, priority, owner, category and a rich-text
description, and every change is appended to the ticket's own history.
Users log in by name; access groups decide who may submit, edit, delete,
close and assign tickets. Several people work on the same logs at once
through byte-range locks on the table files, without a server.
.
The package also holds vltable, the command-line tool that creates,
inspects, exports, verifies and repairs the program's table files, and
veltra-log-setup-folder, which lays out a team folder.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${CPACK_PACKAGE_HOMEPAGE_URL})
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_GENERATOR DEB)
include(CPack)
