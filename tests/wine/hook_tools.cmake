# Test tools around hook.dll, included from CMakeLists.txt beside this file: a receiver that plays
# the strip for the library alone (hook_scenarios.py), and a meter of how closely the strip follows
# the stand-in Winamp (bench/wine_docking.py). Both are found next to the probe.

add_executable(hook_receiver WIN32 hook_receiver.cpp)
target_compile_options(hook_receiver PRIVATE ${LSV_WARNINGS})
target_link_options(hook_receiver PRIVATE -municode)
target_link_libraries(hook_receiver PRIVATE user32 shell32)

add_executable(follow_lag follow_lag.cpp)
target_compile_options(follow_lag PRIVATE ${LSV_WARNINGS})
target_link_options(follow_lag PRIVATE -municode)
target_link_libraries(follow_lag PRIVATE user32)
