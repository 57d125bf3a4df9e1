# The version the build was configured with, to compare --version against.
target_compile_definitions(${test_target} PRIVATE VARNO_PROJECT_VERSION="${PROJECT_VERSION}")
