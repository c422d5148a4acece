# Runs gen_assets into a scratch directory and checks every file it writes against the committed copy.
#
#   cmake -DGEN_ASSETS=<gen_assets> -DOUT_DIR=<scratch dir> -DREF_DIR=<app/res> -P CompareAssets.cmake

foreach(var GEN_ASSETS OUT_DIR REF_DIR)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "CompareAssets.cmake: -D${var}=... is required")
    endif()
endforeach()

file(REMOVE_RECURSE "${OUT_DIR}")
execute_process(COMMAND "${GEN_ASSETS}" "${OUT_DIR}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "gen_assets failed (${result})")
endif()

file(GLOB generated RELATIVE "${OUT_DIR}" "${OUT_DIR}/*")
list(SORT generated)
if(NOT generated)
    message(FATAL_ERROR "gen_assets wrote nothing into ${OUT_DIR}")
endif()

set(stale "")
foreach(name IN LISTS generated)
    if(NOT EXISTS "${REF_DIR}/${name}")
        list(APPEND stale "${name} (missing)")
        continue()
    endif()
    file(SHA256 "${OUT_DIR}/${name}" fresh)
    file(SHA256 "${REF_DIR}/${name}" committed)
    if(NOT fresh STREQUAL committed)
        list(APPEND stale "${name}")
    endif()
endforeach()

if(stale)
    list(JOIN stale ", " names)
    message(FATAL_ERROR
        "The committed assets in ${REF_DIR} do not match what gen_assets draws now.\n"
        "Differing: ${names}\n"
        "Run `gen_assets app/res` from the source root (here: \"${GEN_ASSETS}\" \"${REF_DIR}\") "
        "and commit the result.")
endif()

list(LENGTH generated count)
message(STATUS "All ${count} generated assets match ${REF_DIR}")
