# Installs the build in BUILD into an empty PREFIX: cmake -DPREFIX=.. -DBUILD=.. -P this file
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX}
                OUTPUT_QUIET RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install ${BUILD} failed: ${result}")
endif()
