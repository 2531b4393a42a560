# Writes a text for Windows users: CR LF line ends, so that Notepad shows
# its lines. A man page (MAN=ON) is rendered as plain text first.
# Usage: cmake -DIN=file -DOUT=file [-DMAN=ON -DMANDOC=path -DCOL=path] -P windows-text.cmake
if(MAN)
  # mandoc's ASCII output overstrikes bold and underlined text; col -bx
  # leaves the plain letters, with blanks for tabs.
  execute_process(COMMAND ${MANDOC} -T ascii ${IN} COMMAND ${COL} -bx
                  OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "Cannot render ${IN} as text: ${failed}")
  endif()
else()
  file(READ ${IN} text)
endif()
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
