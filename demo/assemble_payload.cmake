# Builds a payload folder from its parts and packs a setup from it.
#   cmake -DPACKTOOL=... -DINSTALLER=... -DOUT_DIR=<folder> -DSETUP=<exe>
#         -DDESCRIPTION=<config.txt> [-DCONFIG_OVERRIDES=k=v;k=v]
#         [-DBASE=<existing payload folder to copy>] [-DNO_FONTS=1] [-DNO_CONFIG=1]
#         [-DIME64=... -DIME32=... -DCONFIG_EXE=... -DTOOL_EXE=... -DCHM=... -DLICENSE=... -DFONTS=a;b;UPPER.TTF]
#         -P assemble_payload.cmake
foreach(v PACKTOOL INSTALLER OUT_DIR SETUP)
  if(NOT ${v})
    message(FATAL_ERROR "${v} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${OUT_DIR}")
file(MAKE_DIRECTORY "${OUT_DIR}")
if(BASE)
  file(COPY "${BASE}/" DESTINATION "${OUT_DIR}")
else()
  file(MAKE_DIRECTORY "${OUT_DIR}/x86" "${OUT_DIR}/tools" "${OUT_DIR}/$fonts$")
  file(COPY_FILE "${IME64}" "${OUT_DIR}/zerdaIME.ime")
  file(COPY_FILE "${IME32}" "${OUT_DIR}/x86/zerdaIME.ime")
  file(COPY_FILE "${CONFIG_EXE}" "${OUT_DIR}/config.exe")
  file(COPY_FILE "${TOOL_EXE}" "${OUT_DIR}/tools/VarekInputTool.exe")
  file(COPY_FILE "${CHM}" "${OUT_DIR}/main.chm")
  file(COPY_FILE "${LICENSE}" "${OUT_DIR}/License.html")
  foreach(f IN LISTS FONTS)
    # "source=target name": fonts keep the payload's own spelling of the name.
    string(REPLACE "=" ";" pair "${f}")
    list(GET pair 0 src)
    list(GET pair 1 dst)
    file(COPY_FILE "${src}" "${OUT_DIR}/$fonts$/${dst}")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -DOUT=${OUT_DIR} -P ${CMAKE_CURRENT_LIST_DIR}/make_data_files.cmake
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "data files failed")
  endif()
endif()

if(NO_FONTS)
  file(REMOVE_RECURSE "${OUT_DIR}/$fonts$")
endif()
if(NO_CONFIG)
  file(REMOVE "${OUT_DIR}/$dataFiles$/config.dsc")
elseif(DESCRIPTION)
  file(MAKE_DIRECTORY "${OUT_DIR}/$dataFiles$")
  execute_process(COMMAND ${PACKTOOL} config ${DESCRIPTION} "${OUT_DIR}/$dataFiles$/config.dsc" ${CONFIG_OVERRIDES}
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "packtool config failed")
  endif()
endif()

# Without its configuration the setup is meant to fail: packtool refuses such
# a payload unless told.
set(pack_options "")
if(NO_CONFIG)
  set(pack_options --allow-incomplete)
endif()
execute_process(COMMAND ${PACKTOOL} pack ${pack_options} ${INSTALLER} ${OUT_DIR} ${SETUP} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "packtool pack failed")
endif()
