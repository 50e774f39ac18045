// Starts the speech engine from the search path with the given model, prints its port and the
// wrapper's process id, then waits to be killed.
#include "WavEncoder.h"
#include "speech/WhisperServer.h"

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 2) {
        return 2;
    }
    WhisperServer server(argv[1], "en", WhisperServer::Setup::standard(Paths::forThisProcess()));
    server.attempt(WavEncoder::encode(std::vector<float>(8000)), "");
    std::printf("%d %d\n", server.port(), static_cast<int>(server.processId()));
    std::fflush(stdout);
    for (;;) {
        ::pause();
    }
}
