# Runs the instrumented QVXBinTool of a profile-guided Release build on its training inputs, so
# that the counts it writes guide the optimised build (CMakeLists.txt, QVX_PGO). Run as
#
#   cmake -DTOOL=<instrumented QVXBinTool> -DGENERATOR=<qvx_workload> -DEXAMPLES=<examples>
#         -DWORK=<scratch folder> -DPROFILE_DIR=<profile folder> -DSTAMP=<file> -P pgo_train.cmake
#
# The inputs are what the tool is for: a generated game folder of 20,000 objects (another seed
# than bench/run.sh's, so the build is not trained on the data it is timed on) and the bundled
# example game folder, each taken through buildtlib, gentext and genbin. The old counts are
# removed first: counts of an earlier build of the tool would not match its code. Any failure
# stops the build.
foreach(name TOOL GENERATOR EXAMPLES WORK PROFILE_DIR STAMP)
  if(NOT DEFINED ${name})
    message(FATAL_ERROR "pgo_train.cmake needs -D${name}=...")
  endif()
endforeach()

file(REMOVE_RECURSE "${PROFILE_DIR}" "${WORK}")
file(REMOVE "${STAMP}")
file(MAKE_DIRECTORY "${PROFILE_DIR}" "${WORK}")

# Runs the command given; stops the build when it fails.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    string(REPLACE ";" " " command "${ARGN}")
    message(FATAL_ERROR "Profile training failed: ${command}\n${output}")
  endif()
endfunction()

# The tool reads QVX.tl from its own folder: each game folder gets a copy of the tool.
function(train game name)
  set(tool_dir "${WORK}/${name}/tool")
  set(out "${WORK}/${name}/out")
  file(MAKE_DIRECTORY "${tool_dir}" "${out}")
  file(COPY "${TOOL}" DESTINATION "${tool_dir}")
  get_filename_component(tool_name "${TOOL}" NAME)
  set(tool "${tool_dir}/${tool_name}")
  run("${tool}" buildtlib "${game}" "${tool_dir}/QVX.tl")
  file(GLOB_RECURSE files RELATIVE "${game}" "${game}/*.bin")
  list(SORT files)
  set(index 0)
  foreach(file IN LISTS files)
    math(EXPR index "${index} + 1")
    run("${tool}" gentext "${game}/${file}" "${out}/${index}.txt")
    run("${tool}" genbin "${out}/${index}.txt" "${out}/${index}.bin")
  endforeach()
endfunction()

run("${GENERATOR}" "${WORK}/workload" 20000 7)
train("${WORK}/workload/game" workload)
train("${EXAMPLES}/game" examples)
file(WRITE "${STAMP}" "trained\n")
