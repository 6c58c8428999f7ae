# The editor benchmark (bench/BM_GuiFrame.cpp): a unit, a manager with 40 knobs, a hidden window.
add_executable(gui_bench ${PROJECT_SOURCE_DIR}/bench/BM_GuiFrame.cpp)
marrowfin_target(gui_bench)
pkg_check_modules(GUI_BENCH_STB REQUIRED IMPORTED_TARGET stb)  # stb_image_write for the bench images
target_link_libraries(gui_bench PRIVATE mf_gui mf_effect benchmark::benchmark_main PkgConfig::GUI_BENCH_STB)
