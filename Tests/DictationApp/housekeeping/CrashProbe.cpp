// A program that installs the crash handler and then crashes as it is told:
//   crash-probe FOLDER segv|abort|exception
#include "housekeeping/CrashHandler.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

// Exported and never inlined, so the backtrace can name it.
extern "C" __attribute__((noinline)) void parlwickCrashHere(const char* how) {
    const std::string kind = how;
    if (kind == "segv") {
        // Not null, so the undefined-behaviour checks let the processor fault.
        // Read from a volatile, so the compiler cannot see (and warn) where it points.
        volatile std::uintptr_t address = 16;
        volatile int* nowhere = reinterpret_cast<volatile int*>(address);
        *nowhere = 42;
    } else if (kind == "abort") {
        std::abort();
    } else {
        throw std::runtime_error("the words the user said must never reach a report");
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    CrashHandler::install(argv[1], "Parlwick", "9.9");
    parlwickCrashHere(argv[2]);
    return 0;
}
