# The configuration of build/, the normal build, sourced by tools/run-tests.sh
# and tools/run-demo.sh: both configure it alike, so that running one after
# the other rebuilds nothing.  Optimised as released, without debug
# information (a third quicker to build; the sanitizer builds carry line
# information for reports), and a warning in the project's own code is an
# error.
normal_build_options=(
  -G Ninja -DTVL_WERROR=ON -DCMAKE_BUILD_TYPE=Release
  "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" "-DCMAKE_C_FLAGS_RELEASE=-O2 -DNDEBUG"
)

# Configures build/ (run from the repository's root).
configure_normal_build() {
  cmake -S . -B build "${normal_build_options[@]}"
}
