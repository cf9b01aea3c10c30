# What a desktop needs to find the installed programs: the `somnara`
# launcher, the menu entry, AppStream metainfo, the polkit action of the
# privilege repair tool, the application icons and the tools' manual pages.
# Every file that names an installed path is configured from the same
# variables the programs are built with.

set(SOMNARA_HOMEPAGE "https://orvane.de/somnara/" CACHE STRING "Project page (AppStream, polkit vendor)")
# Release date of the AppStream release entry; string(TIMESTAMP) follows
# SOURCE_DATE_EPOCH, which package builds set from the changelog's date.
string(TIMESTAMP SOMNARA_RELEASE_DATE "%Y-%m-%d" UTC)

set(desktop_src "${CMAKE_CURRENT_LIST_DIR}/linux")
set(desktop_out "${CMAKE_BINARY_DIR}/packaging")
foreach(file somnara de.orvane.Somnara.desktop de.orvane.Somnara.metainfo.xml de.orvane.Somnara.policy)
  configure_file("${desktop_src}/${file}.in" "${desktop_out}/${file}" @ONLY)
endforeach()

install(PROGRAMS "${desktop_out}/somnara" DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES "${desktop_out}/de.orvane.Somnara.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
if(BUILD_TESTING)
  add_test(NAME desktop_entry_valid COMMAND desktop-file-validate "${desktop_out}/de.orvane.Somnara.desktop")
  set_tests_properties(desktop_entry_valid PROPERTIES LABELS "preferences")
endif()
install(FILES "${desktop_out}/de.orvane.Somnara.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${desktop_out}/de.orvane.Somnara.policy" DESTINATION "${CMAKE_INSTALL_DATADIR}/polkit-1/actions")

# Manual pages: <name>.<section>.in, configured with the installed paths.
file(GLOB man_pages "${CMAKE_CURRENT_LIST_DIR}/man/*.in")
foreach(page ${man_pages})
  get_filename_component(name "${page}" NAME_WLE)
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section "${name}")
  configure_file("${page}" "${desktop_out}/man/${name}" @ONLY)
  install(FILES "${desktop_out}/man/${name}" DESTINATION "${CMAKE_INSTALL_MANDIR}/man${section}")
endforeach()

# Application icon: packaging/icons/hicolor is a hicolor theme tree
# (scalable/apps/de.orvane.Somnara.svg, <N>x<N>/apps/de.orvane.Somnara.png).
if(EXISTS "${CMAKE_CURRENT_LIST_DIR}/icons/hicolor")
  install(DIRECTORY "${CMAKE_CURRENT_LIST_DIR}/icons/hicolor" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons")
endif()
