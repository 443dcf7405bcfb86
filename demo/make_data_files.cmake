# Writes the demo's data files and skin: cmake -DOUT=<payload folder> -P make_data_files.cmake
# temp.dmg must hold at least 65,672 bytes: the installation clears its
# 65,536 bytes from offset 136. Its filler is not zero, so that a test can see
# the clearing happen.
if(NOT OUT)
  message(FATAL_ERROR "OUT is not set")
endif()
file(MAKE_DIRECTORY "${OUT}/$dataFiles$" "${OUT}/colourful")

string(REPEAT "zerda-temp;" 6400 _temp)           # 70,400 bytes
string(SUBSTRING "${_temp}" 0 70000 _temp)
file(WRITE "${OUT}/$dataFiles$/temp.dmg" "${_temp}")

set(_main "ZerdaIME3 demo dictionary\n")
foreach(i RANGE 1 600)
  string(APPEND _main "word${i}\tkey${i}\t${i}\n")
endforeach()
file(WRITE "${OUT}/$dataFiles$/main.dmg" "${_main}")

file(WRITE "${OUT}/colourful/default.icc"
  "[skin]\nname=colourful\nbackground=#F4F0E6\ntext=#202020\nhighlight=#2E7D32\nfont=UKIJ Tuz Tom\n")
