# Assembles one loader source into a flat image and either checks it against
# the committed image (MODE=check) or replaces the committed image
# (MODE=refresh). Variables: AS, OBJCOPY, SOURCE, FLAGS (separated by ","), WORK,
# IMAGE (the committed image), MODE.
string(REPLACE "," ";" flags "${FLAGS}")
# The sources include the frame they share from their own directory.
get_filename_component(source_dir ${SOURCE} DIRECTORY)
execute_process(COMMAND ${AS} ${flags} -I ${source_dir} -o ${WORK}.o ${SOURCE} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "assembling ${SOURCE} failed")
endif()
execute_process(COMMAND ${OBJCOPY} -O binary -j .text ${WORK}.o ${WORK}.bin RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "extracting the image of ${SOURCE} failed")
endif()
file(SIZE ${WORK}.bin size)
if(size GREATER 2048)
  message(FATAL_ERROR "${WORK}.bin is ${size} bytes, more than the 2048-byte loader area")
endif()
if(MODE STREQUAL "refresh")
  file(COPY_FILE ${WORK}.bin ${IMAGE} ONLY_IF_DIFFERENT)
  message(STATUS "${IMAGE}: ${size} bytes")
else()
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK}.bin ${IMAGE} RESULT_VARIABLE differ)
  if(NOT differ EQUAL 0)
    message(FATAL_ERROR "${IMAGE} is not what ${SOURCE} assembles to; run the loaders_refresh target")
  endif()
endif()
