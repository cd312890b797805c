# Run by CPack once it has staged the Debian package's files
# (CPACK_PRE_BUILD_SCRIPTS); the staging folder is the package's root.
set(root "${CPACK_TEMPORARY_DIRECTORY}")
set(tree "${root}${CPACK_PACKAGING_INSTALL_PREFIX}")

function(run_or_fail what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
endfunction()

# The programs without their debugging information. Strip rewrites the
# file and drops what follows the program, so firmora gets its package
# again from the staged firmora-pack, from the staged demo package.
file(GLOB programs "${tree}/firmora*" "${tree}/demo-package/*.exe")
foreach(program IN LISTS programs)
  run_or_fail("strip of ${program}" "${CPACK_FIRMORA_STRIP}" --strip-debug "${program}")
endforeach()
run_or_fail("appending the demo package to the packaged firmora"
            "${tree}/firmora-pack" --from "${tree}/demo-package" --output "${tree}/firmora")
if(EXISTS "${tree}/firmora-gui")
  run_or_fail("appending the demo package to the packaged firmora-gui" "${tree}/firmora-pack"
              --from "${tree}/demo-package" --program firmora-gui --output "${tree}/firmora-gui")
endif()

# The commands, by links into the tree: a program follows its link to find
# its data and companions.
file(MAKE_DIRECTORY "${root}/usr/bin")
foreach(command IN LISTS CPACK_FIRMORA_COMMANDS)
  file(CREATE_LINK "${CPACK_PACKAGING_INSTALL_PREFIX}/${command}" "${root}/usr/bin/${command}" SYMBOLIC)
endforeach()

# The man pages, compressed as Debian keeps them (no name or time stamp, so
# that the same page gives the same bytes).
file(MAKE_DIRECTORY "${root}/usr/share/man/man1")
foreach(page IN LISTS CPACK_FIRMORA_MAN_PAGES)
  get_filename_component(name "${page}" NAME)
  run_or_fail("gzip of ${page}" gzip -9 -n -c "${page}" OUTPUT_FILE "${root}/usr/share/man/man1/${name}.gz")
endforeach()

# The desktop window's menu entry and icon, where desktops look for them.
if(CPACK_FIRMORA_DESKTOP_ENTRY)
  file(COPY "${CPACK_FIRMORA_DESKTOP_ENTRY}" DESTINATION "${root}/usr/share/applications")
  file(COPY "${CPACK_FIRMORA_ICON}" DESTINATION "${root}/usr/share/icons/hicolor/scalable/apps")
endif()

# The udev rules where udev reads a package's rules.
file(COPY "${CPACK_FIRMORA_UDEV_RULES}" DESTINATION "${root}/usr/lib/udev/rules.d")
