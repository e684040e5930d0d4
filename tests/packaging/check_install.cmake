# Installs the build tree into a staging folder (DESTDIR) under /usr, checks
# that exactly the expected files land there, and runs the installed
# glimmerpane-cli.
# cmake -DBUILD_DIR=... -DSTAGE=... -DVERSION=... -DSOURCE_DIR=... -P check_install.cmake

file(REMOVE_RECURSE ${STAGE})
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${STAGE}
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /usr
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed (${rc}):\n${out}")
endif()

set(expected
    usr/bin/glimmerpane
    usr/bin/glimmerpane-cli
    usr/bin/glimmerpane-sim
    usr/share/applications/glimmerpane.desktop
    usr/share/icons/hicolor/scalable/apps/glimmerpane.svg
    usr/share/metainfo/com.quorvel.glimmerpane.metainfo.xml
    usr/share/man/man1/glimmerpane.1.gz
    usr/share/man/man1/glimmerpane-cli.1.gz
    usr/share/man/man1/glimmerpane-sim.1.gz
    usr/share/bash-completion/completions/glimmerpane-cli
    usr/share/doc/glimmerpane/copyright
    usr/share/doc/glimmerpane/changelog.Debian.gz
    usr/share/doc/glimmerpane/examples/60-glimmerpane-serial.rules
    usr/share/glimmerpane/Glimmerpane_en.lng)
file(GLOB catalogues RELATIVE ${SOURCE_DIR}/data/lang ${SOURCE_DIR}/data/lang/*.lng)
foreach(c IN LISTS catalogues)
  list(APPEND expected usr/share/glimmerpane/${c})
endforeach()

file(GLOB_RECURSE landed RELATIVE ${STAGE} LIST_DIRECTORIES false ${STAGE}/*)
list(SORT expected)
list(SORT landed)
set(missing ${expected})
list(REMOVE_ITEM missing ${landed})
set(extra ${landed})
list(REMOVE_ITEM extra ${expected})
if(missing OR extra)
  message(FATAL_ERROR "installed files differ\n  missing: ${missing}\n  unexpected: ${extra}")
endif()

# The English catalogue holds the texts as the tool has them built in.
file(READ ${STAGE}/usr/share/glimmerpane/Glimmerpane_en.lng english)
if(NOT english MATCHES "Profile Changed Failed")
  message(FATAL_ERROR "Glimmerpane_en.lng lacks the tool's texts")
endif()

foreach(program glimmerpane glimmerpane-cli glimmerpane-sim)
  execute_process(COMMAND test -x ${STAGE}/usr/bin/${program} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${program} is not executable")
  endif()
endforeach()

# The manual pages are gzip files holding roff, with the version filled in.
foreach(page glimmerpane glimmerpane-cli glimmerpane-sim)
  execute_process(COMMAND gzip -dc ${STAGE}/usr/share/man/man1/${page}.1.gz
                  RESULT_VARIABLE rc OUTPUT_VARIABLE text)
  if(NOT rc EQUAL 0 OR NOT text MATCHES "^\\.TH [^\n]*Glimmerpane ${VERSION}")
    message(FATAL_ERROR "${page}.1.gz is not a compressed manual page of version ${VERSION}")
  endif()
endforeach()

execute_process(COMMAND ${STAGE}/usr/bin/glimmerpane-cli --version
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "glimmerpane-cli ${VERSION}\n")
  message(FATAL_ERROR "installed glimmerpane-cli --version: status ${rc}, printed '${out}${err}'")
endif()
# Every program tells its version and its help without a display, and the
# simulator refuses an unknown option with status 2 as its manual page says.
foreach(program glimmerpane glimmerpane-sim)
  foreach(option --version --help)
    execute_process(COMMAND env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=
                            ${STAGE}/usr/bin/${program} ${option}
                    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0 OR NOT out MATCHES "${program}")
      message(FATAL_ERROR "installed ${program} ${option}: status ${rc}, printed '${out}${err}'")
    endif()
  endforeach()
endforeach()
execute_process(COMMAND ${STAGE}/usr/bin/glimmerpane-sim --colour
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 2 OR NOT err MATCHES "colour")
  message(FATAL_ERROR "glimmerpane-sim --colour: status ${rc}, printed '${out}${err}'")
endif()
message(STATUS "${STAGE}: ${landed}")
message(STATUS "glimmerpane-cli --version: ${out}")
