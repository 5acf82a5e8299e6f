# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the AppStream metainfo from packaging/<app id>.metainfo.xml into
# LUMIVANE_METAINFO_OUT. With LUMIVANE_HOMEPAGE (https://...) it names the
# home page and two screenshots published under <home page>/screenshots/
# (main_window.png and before_after.png, as scripts/screenshot writes them);
# without one both are left out, as a metainfo must not point at nothing.
#
# Included by the top-level CMakeLists.txt, or run on its own:
#   cmake -DLUMIVANE_APP_ID=... -DPROJECT_VERSION=... -DLUMIVANE_RELEASE_DATE=...
#         -DLUMIVANE_PROJECT_LICENSE=... [-DLUMIVANE_HOMEPAGE=...]
#         -DLUMIVANE_METAINFO_OUT=<file> -P packaging/metainfo.cmake
if(NOT LUMIVANE_METAINFO_OUT)
  set(LUMIVANE_METAINFO_OUT ${PROJECT_BINARY_DIR}/packaging/${LUMIVANE_APP_ID}.metainfo.xml)
endif()

set(LUMIVANE_METAINFO_WEB "")
if(LUMIVANE_HOMEPAGE)
  if(NOT LUMIVANE_HOMEPAGE MATCHES "^https?://[^/ ]+[^ ]*$")
    message(FATAL_ERROR "LUMIVANE_HOMEPAGE must be an http(s) address, not '${LUMIVANE_HOMEPAGE}'")
  endif()
  string(REGEX REPLACE "/+$" "" _lumivane_home "${LUMIVANE_HOMEPAGE}")
  string(JOIN "\n" LUMIVANE_METAINFO_WEB
    "  <url type=\"homepage\">${_lumivane_home}</url>"
    "  <screenshots>"
    "    <screenshot type=\"default\">"
    "      <caption>The original and the corrected photograph side by side</caption>"
    "      <image>${_lumivane_home}/screenshots/main_window.png</image>"
    "    </screenshot>"
    "    <screenshot>"
    "      <caption>Brightness from the centre to the corners, before and after</caption>"
    "      <image>${_lumivane_home}/screenshots/before_after.png</image>"
    "    </screenshot>"
    "  </screenshots>"
    "")
endif()

get_filename_component(_lumivane_packaging_dir "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
configure_file(${_lumivane_packaging_dir}/${LUMIVANE_APP_ID}.metainfo.xml ${LUMIVANE_METAINFO_OUT} @ONLY)
