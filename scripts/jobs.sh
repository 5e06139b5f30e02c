# Sourced by the scripts that build or test: every build and test preset runs as many
# jobs as the machine has cores, unless the caller chose a number.
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}
export CTEST_PARALLEL_LEVEL=${CTEST_PARALLEL_LEVEL:-$(nproc)}
