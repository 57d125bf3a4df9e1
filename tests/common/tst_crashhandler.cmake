# Export the program's own symbols so that the backtrace in a crash report
# names the functions that crashed (the tests look for them).
set_target_properties(${test_target} PROPERTIES ENABLE_EXPORTS ON)
