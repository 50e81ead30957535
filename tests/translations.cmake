# Fails when a text the program shows has no finished English translation: lupdate, run on a copy
# of the translation file over the code, marks a new or changed text "unfinished" and one the
# code no longer has "vanished".
#   cmake -DLUPDATE=... -DSOURCE_DIR=... -DWORK_DIR=... -P translations.cmake
set(ts ${WORK_DIR}/kopierwart_en.ts)
file(COPY_FILE ${SOURCE_DIR}/i18n/kopierwart_en.ts ${ts})
set(folders)
foreach(folder ui app scan core p2p platform)
    list(APPEND folders ${SOURCE_DIR}/${folder})
endforeach()
execute_process(COMMAND ${LUPDATE} -I ${SOURCE_DIR} ${folders} -locations none
                        -source-language de -target-language en -ts ${ts}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(READ ${ts} text)
string(REGEX MATCHALL "<source>[^<]*</source>[ \n]*<translation( type=\"[a-z]+\")?>(</translation>)?"
       faults "${text}")
list(FILTER faults INCLUDE REGEX "type=|></translation>")
if(faults)
    string(REPLACE ";" "\n" faults "${faults}")
    message(FATAL_ERROR "Texts without a finished English translation in i18n/kopierwart_en.ts "
                        "(cmake --build BUILD --target update_translations, then translate):\n"
                        "${faults}")
endif()
