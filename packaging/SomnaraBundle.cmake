# Application bundles in the build tree, laid out as installed:
#   Somnara.app/Contents/{Info.plist, MacOS/, Resources/, Library/LoginItems/<program>.app}
# Each program's bundle carries its own copy of the privileged helper.

set(SOMNARA_APP_BUNDLE "${CMAKE_BINARY_DIR}/Somnara.app")
set(SOMNARA_BUILD_NUMBER "1" CACHE STRING "Build number written as CFBundleVersion")

# somnara_bundle_program(<target> <bundle directory> <bundle identifier> <program name>)
function(somnara_bundle_program target bundle identifier name)
  set(BUNDLE_IDENTIFIER "${identifier}")
  set(BUNDLE_NAME "${name}")
  configure_file("${PROJECT_SOURCE_DIR}/packaging/Info.plist.in" "${bundle}/Contents/Info.plist" @ONLY)
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME "${name}"
    RUNTIME_OUTPUT_DIRECTORY "${bundle}/Contents/MacOS")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory "${bundle}/Contents/Resources"
    COMMAND ${CMAKE_COMMAND} -E copy "$<TARGET_FILE:pmsethelper>" "${bundle}/Contents/Resources/pmsethelper"
    VERBATIM)
  add_dependencies(${target} pmsethelper)
endfunction()

# The whole bundle installs as built; helpers keep mode 0755 until an
# administrator repairs their privileges.
install(DIRECTORY "${SOMNARA_APP_BUNDLE}" DESTINATION "${CMAKE_INSTALL_LIBDIR}/somnara" USE_SOURCE_PERMISSIONS)
