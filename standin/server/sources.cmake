# add_executable(sim-standin ...)
