# Runs one fuzz target for a fixed number of inputs from a clean scratch folder and the seed
# corpus: cmake -DPROGRAM= -DCORPUS= -DSCRATCH= -DRUNS= -DMAX_LEN= [-DSECONDS=] -P run_fuzz_target.cmake
# With SECONDS the run lasts that long instead and keeps what it found in SCRATCH.
if(DEFINED SECONDS)
    file(MAKE_DIRECTORY ${SCRATCH})
    set(limit -max_total_time=${SECONDS})
else()
    # A clean start every time, so that the same inputs run at every test run.
    file(REMOVE_RECURSE ${SCRATCH})
    file(MAKE_DIRECTORY ${SCRATCH})
    set(limit -runs=${RUNS})
endif()
execute_process(
    COMMAND ${PROGRAM} ${limit} -seed=1 -max_len=${MAX_LEN} -timeout=20 -rss_limit_mb=2048
            -print_final_stats=1 -artifact_prefix=${SCRATCH}/ ${SCRATCH} ${CORPUS}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} failed (${status}); the input is kept under ${SCRATCH}")
endif()
