# Writes the man page of pelfry-cli (cmake -DCLI=program -DHELP2MAN=help2man -DSECTIONS=file
# -DOUT=page -P), and beside it the same page compressed (page.gz), the form that is installed:
# help2man makes it from `pelfry-cli --help` and `--version`, the help of every command listed
# there is added as a section of its own, so the page says what the help says, and SECTIONS
# (a help2man include file) adds what no help text holds: EXIT STATUS and EXAMPLES.
execute_process(COMMAND ${CLI} --help OUTPUT_VARIABLE help RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${CLI} --help failed: ${status}")
endif()

# The commands: the lines "  NAME  summary" of the Commands section.
string(REGEX MATCH "\nCommands:\n(  [^\n]*\n)+" section "${help}")
string(REGEX MATCHALL "\n  [a-z-]+" names "${section}")

file(READ "${SECTIONS}" include)
string(APPEND include "\n[COMMANDS]\n")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  execute_process(COMMAND ${CLI} ${name} --help OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CLI} ${name} --help failed: ${status}")
  endif()
  # Shown as written: backslashes escaped, no line taken for a request.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND include ".SS ${name}\n.nf\n${text}.fi\n")
endforeach()

get_filename_component(folder "${OUT}" DIRECTORY)
set(includeFile "${folder}/pelfry-cli.h2m")
file(WRITE "${includeFile}" "${include}")
execute_process(
  COMMAND ${HELP2MAN} --no-info --section=1
          "--name=the archive and conversion jobs of the Pelfry editor, from a shell"
          "--include=${includeFile}" "--output=${OUT}" ${CLI}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${status}")
endif()
# -n: no name or time in the header, so that the same page compresses to the same bytes.
execute_process(COMMAND gzip -9 -n -c "${OUT}" OUTPUT_FILE "${OUT}.gz" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed: ${status}")
endif()
