# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack before it packs: CPack stamps every file and member of the .deb with
# SOURCE_DATE_EPOCH when it is set, and with the time of packing otherwise. Unset, it is taken
# from the newest release of NEWS.md (the date of the changelog's first entry, as
# dpkg-buildpackage does), so that two packings of one build give the same bytes.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH} OR "$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  set(ENV{SOURCE_DATE_EPOCH} "${CPACK_PELICORDE_RELEASE_EPOCH}")
endif()
