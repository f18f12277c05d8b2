# Writes a gzipped manual page for PROGRAM from its own --help and --version, so the page
# never drifts from the program. Run with cmake -P and:
#   PROGRAM  the built program        NAME     the one-line description for NAME
#   INCLUDE  extra sections (help2man include format)
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
execute_process(COMMAND ${PROGRAM} --version RESULT_VARIABLE result OUTPUT_QUIET ERROR_QUIET
  TIMEOUT 5)
if(NOT result EQUAL 0)
  # A program that does not answer --version yet gets a page from the extra sections alone.
  message(WARNING "${PROGRAM} does not answer --version; its manual page has no OPTIONS")
  get_filename_component(program ${PROGRAM} NAME)
  string(TOUPPER ${program} title)
  string(REGEX REPLACE "(^|\n)\\[([A-Z ]+)\\]" "\\1.SH \\2" sections "${sections}")
  file(WRITE ${page} ".TH ${title} 1\n.SH NAME\n${program} \\- ${NAME}\n"
    ".SH SYNOPSIS\n.B ${program}\n${sections}")
  execute_process(COMMAND ${GZIP} -9nf ${page})
  return()
endif()
execute_process(COMMAND ${HELP2MAN} --no-info --no-discard-stderr --name=${NAME}
    --include=${include} --output=${page} ${PROGRAM}
  RESULT_VARIABLE result ERROR_VARIABLE error TIMEOUT 30)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man ${PROGRAM} failed (${result}): ${error}")
endif()
execute_process(COMMAND ${GZIP} -9nf ${page} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip ${page} failed")
endif()
