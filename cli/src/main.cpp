// reelmender-cli: edits a movie without re-encoding it.
#include <iostream>

#include "app.h"
#include "tools/process.h"

int main(int argc, char** argv) {
    reel::prepare_standard_streams();
    const int status = reel::run_cli(reel::program_arguments(argc, argv), std::cout, std::cerr,
                                      reel::standard_error_is_terminal());
    std::cout.flush();
    std::cerr.flush();
    return status;
}
