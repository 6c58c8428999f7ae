# The OSC dispatcher benchmark (bench/BM_OSCDispatch.cpp): a whole unit behind the dispatcher.
add_executable(bench_osc ${PROJECT_SOURCE_DIR}/bench/BM_OSCDispatch.cpp)
marrowfin_target(bench_osc)
target_link_libraries(bench_osc PRIVATE mf_effect benchmark::benchmark)
