# SPDX-License-Identifier: GPL-3.0-or-later
# The folders depend one way: app -> window, cli -> model -> platform -> audio, export -> synth.
# Fails the build when a file includes a folder its own may not reach (window and cli, the two
# doors into the program, never include each other). Run with -DROOT=<source dir>.
set(rules
  "synth:audio export platform model cli window app"
  "export:audio platform model cli window app"
  "audio:platform model cli window app"
  "platform:model cli window app"
  "model:cli window app"
  "cli:window app"
  "window:cli app"
)
set(failures "")
foreach(rule IN LISTS rules)
  string(REPLACE ":" ";" rule "${rule}")
  list(GET rule 0 folder)
  list(GET rule 1 forbidden)
  string(REPLACE " " "|" forbidden "${forbidden}")
  file(GLOB_RECURSE sources "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" hits REGEX "^[ \t]*#[ \t]*include[ \t]*\"(\\.\\./)?(${forbidden})/")
    if(hits)
      file(RELATIVE_PATH name "${ROOT}" "${source}")
      string(APPEND failures "  ${name}: ${hits}\n")
    endif()
  endforeach()
endforeach()
if(failures)
  message(FATAL_ERROR "Includes against the direction of the layout:\n${failures}")
endif()
