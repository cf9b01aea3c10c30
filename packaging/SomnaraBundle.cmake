# Application bundles in the build tree, laid out as installed:
#   Somnara.app/Contents/{Info.plist, MacOS/, Resources/, Library/LoginItems/<program>.app}
# Each program's bundle carries its own copy of the privileged helper.

set(SOMNARA_APP_BUNDLE "${CMAKE_BINARY_DIR}/Somnara.app")
# Installed next to the tools, whatever the distribution's library directory:
# <prefix>/lib/somnara/Somnara.app.
set(SOMNARA_BUNDLE_INSTALL_DIR "lib/somnara" CACHE STRING
    "Directory (relative to the install prefix) that receives Somnara.app")
set(SOMNARA_INSTALLED_BUNDLE "${CMAKE_INSTALL_PREFIX}/${SOMNARA_BUNDLE_INSTALL_DIR}/Somnara.app")
set(SOMNARA_BUILD_NUMBER "1" CACHE STRING "Build number written as CFBundleVersion")

# somnara_bundle_program(<target> <bundle directory> <bundle identifier> <program name>
#                        [RESOURCES <file or directory>...])
# Files and whole directories listed under RESOURCES are copied into the
# bundle's Contents/Resources after each build of the target.
function(somnara_bundle_program target bundle identifier name)
  cmake_parse_arguments(PARSE_ARGV 4 ARG "" "" "RESOURCES")
  set(copy_resources "")
  foreach(resource IN LISTS ARG_RESOURCES)
    if(IS_DIRECTORY "${resource}")
      get_filename_component(leaf "${resource}" NAME)
      list(APPEND copy_resources COMMAND ${CMAKE_COMMAND} -E copy_directory "${resource}"
           "${bundle}/Contents/Resources/${leaf}")
    else()
      list(APPEND copy_resources COMMAND ${CMAKE_COMMAND} -E copy "${resource}" "${bundle}/Contents/Resources/")
    endif()
  endforeach()
  set(BUNDLE_IDENTIFIER "${identifier}")
  set(BUNDLE_NAME "${name}")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/Info.plist.in" "${bundle}/Contents/Info.plist" @ONLY)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${name}"
    RUNTIME_OUTPUT_DIRECTORY "${bundle}/Contents/MacOS")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${bundle}/Contents/Resources"
    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:pmsethelper>" "${bundle}/Contents/Resources/pmsethelper"
    ${copy_resources}
    VERBATIM)
  add_dependencies(${target} pmsethelper)
endfunction()

# The whole bundle installs as built, whatever programs it holds; helpers keep
# mode 0755 until the package or an administrator gives them their privileges.
install(DIRECTORY "${SOMNARA_APP_BUNDLE}" DESTINATION "${SOMNARA_BUNDLE_INSTALL_DIR}" USE_SOURCE_PERMISSIONS)
