# jrxlog.1 from `jrxlog --help`, with `jrxlog help --all` (every command's help) as a section.
# cmake -DHELP2MAN=... -DJRXLOG=... -DOUT=... -P ManPage.cmake
execute_process(COMMAND ${JRXLOG} help --all OUTPUT_VARIABLE text COMMAND_ERROR_IS_FATAL ANY)
string(REPLACE "\\" "\\\\" text "${text}")
get_filename_component(dir ${OUT} DIRECTORY)
file(WRITE ${dir}/jrxlog.h2m "[COMMANDS]\n.nf\n${text}.fi\n")
execute_process(COMMAND ${HELP2MAN} --no-info
                        "--name=the operation log and the event log of the agent"
                        --include=${dir}/jrxlog.h2m --output=${OUT} ${JRXLOG}
                COMMAND_ERROR_IS_FATAL ANY)
