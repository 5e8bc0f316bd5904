# Runs the Windows test programs under Wine, with a Wine prefix of their own
# inside the build folder, so no test touches the user's ~/.wine.
if(NOT UPDATETOOL_WINE_TESTS)
  return()
endif()
find_program(UPDATETOOL_WINE NAMES wine wine64)
if(NOT UPDATETOOL_WINE)
  message(WARNING "Wine not found: the Windows tests are built but cannot run here")
  return()
endif()
set(UPDATETOOL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix CACHE PATH "The Wine prefix the tests run in")
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
# Make the prefix now, once (about ten seconds), so that the first test program
# listed under Wine at build time does not run into its discovery time-out.
if(NOT EXISTS ${UPDATETOOL_WINE_PREFIX}/system.reg)
  message(STATUS "Creating the Wine prefix ${UPDATETOOL_WINE_PREFIX}")
  execute_process(COMMAND ${CMAKE_BINARY_DIR}/wine-run.sh cmd /c exit OUTPUT_QUIET ERROR_QUIET)
endif()
