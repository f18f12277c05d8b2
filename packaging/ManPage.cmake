# Writes a gzipped manual page for PROGRAM from its own --help and --version, so the page
# never drifts from the program. Run with cmake -P and:
#   PROGRAM  the built program        NAME     the one-line description for NAME
#   INCLUDE  extra sections (help2man include format)
#   EXTRA    a generated file of more such sections (may be empty)
#   COMMANDS subcommands whose --help becomes a COMMANDS section (may be empty)
#   OUTPUT   the .1.gz file to write
cmake_minimum_required(VERSION 3.22)
find_program(HELP2MAN help2man REQUIRED)
find_program(GZIP gzip REQUIRED)
get_filename_component(base ${OUTPUT} NAME_WLE)
get_filename_component(dir ${OUTPUT} DIRECTORY)
set(page ${dir}/${base})
set(include ${page}.include)

# Roff reads a leading dot or quote as a request and a backslash as an escape.
function(as_roff text out)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

file(READ ${INCLUDE} sections)
if(EXTRA)
  file(READ ${EXTRA} extra)
  string(APPEND sections "${extra}")
endif()
if(COMMANDS)
  string(APPEND sections "[COMMANDS]\n")
  foreach(command ${COMMANDS})
    execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE help
      RESULT_VARIABLE result TIMEOUT 20)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${PROGRAM} ${command} --help failed: ${result}")
    endif()
    as_roff("${help}" help)
    string(APPEND sections ".SS ${command}\n.nf\n${help}.fi\n")
  endforeach()
endif()
file(WRITE ${include} "${sections}")

# The window reads --help before it opens anything; offscreen keeps it off any display.
set(ENV{QT_QPA_PLATFORM} offscreen)
# The version under the program file's name: the window's version line starts with its
# title instead.
execute_process(COMMAND ${PROGRAM} --version OUTPUT_VARIABLE version RESULT_VARIABLE result
  ERROR_QUIET TIMEOUT 20)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --version failed: ${result}")
endif()
get_filename_component(program ${PROGRAM} NAME)
string(REGEX REPLACE "^[^ ]+ ([^\n]*).*" "${program} \\1" version "${version}")
execute_process(COMMAND ${HELP2MAN} --no-info --name=${NAME} --version-string=${version}
    --include=${include} --output=${page} ${PROGRAM}
  RESULT_VARIABLE result ERROR_VARIABLE error TIMEOUT 30)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man ${PROGRAM} failed (${result}): ${error}")
endif()
execute_process(COMMAND ${GZIP} -9nf ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed")
endif()
