# Copies IN to OUT with CRLF line ends, so that Notepad on any Windows
# shows the README as lines: cmake -DIN=... -DOUT=... -P crlf.cmake
file(READ "${IN}" text)
string(REPLACE "\r\n" "\n" text "${text}")
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE "${OUT}" "${text}")
