# Writes the qorb(1) man page from the tool's own help text with help2man:
# the main help, then a COMMANDS section with the help of every subcommand
# (and of theirs, one level down).
#   cmake -DQORB=path/to/qorb -DVERSION=... -DOUT=qorb.1 -P man.cmake
set(include_file ${OUT}.commands)

function(help out)
  execute_process(COMMAND ${QORB} ${ARGN} --help OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "qorb ${ARGN} --help failed (${rc})")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The names listed under "Subcommands:" in a help text.
function(subcommands text out)
  set(names)
  string(REGEX REPLACE ".*\nSubcommands:\n" "" tail "${text}")
  if(NOT tail STREQUAL text)
    string(REGEX MATCHALL "(^|\n)  [a-z][a-z-]*" found "${tail}")
    foreach(name ${found})
      string(STRIP "${name}" name)
      list(APPEND names ${name})
    endforeach()
  endif()
  set(${out} ${names} PARENT_SCOPE)
endfunction()

# A help text as a literal block of roff.
function(section title text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  file(APPEND ${include_file} ".SS \"${title}\"\n.nf\n${text}.fi\n")
endfunction()

file(WRITE ${include_file} "[COMMANDS]\n")
help(main)
subcommands("${main}" commands)
foreach(command ${commands})
  help(text ${command})
  section("qorb ${command}" "${text}")
  subcommands("${text}" nested)
  foreach(sub ${nested})
    help(subtext ${command} ${sub})
    section("qorb ${command} ${sub}" "${subtext}")
  endforeach()
endforeach()

file(APPEND ${include_file} "[EXIT STATUS]
0 when the command succeeded; 1 when a check or an operation failed; 2 for bad arguments, absent devices, a
platform file the tool refuses, driver failures and output files that cannot be written. Every problem is one
line on standard error; the library's own diagnostic lines appear only with \\-\\-debug.
[FILES]
.TP
.I qorbsim.ini
settings of the simulated driver, read from the current folder.
.TP
.I ini/VERDAapp.ini
names the driver library when \\-\\-driver is not given.
[SEE ALSO]
.BR lspci (8),
.BR setpci (8)
")

execute_process(COMMAND help2man --no-info --version-string=${VERSION} --section=1
                        "--name=PCI Express compliance testing on the qorb library"
                        --include=${include_file} --output=${OUT} ${QORB}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed (${rc})")
endif()
