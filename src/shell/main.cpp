// vornhal: plays the demo from the working directory's data/ and exits with 0 when
// the show ended normally, 1 when it could not run.
#include "shell/shell.h"

int main() {
    return run_demo();
}
