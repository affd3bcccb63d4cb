// Linked into every test program with RapidCheck properties: the generated values are the same
// on every run, so a result is repeatable and a mutant is judged on the same inputs each time.
// RC_PARAMS="seed=N" (or "seed=N max_success=M") in the environment overrides it.
#include <cstdlib>

namespace {

// RapidCheck reads its configuration on the first property, after every static initialiser.
const bool kSeeded = [] { return setenv("RC_PARAMS", "seed=2029", 0) == 0; }();

}  // namespace
