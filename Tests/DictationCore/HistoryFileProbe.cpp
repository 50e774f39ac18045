// Another process on the history and notes files.
//   write <folder> <records> <notes> <from> <to> [<file size limit>]
//     saves generations from..to of both files; with a limit, the system kills the process
//     (SIGXFSZ) when a write would make a file larger, so it dies mid-save at a chosen byte.
//   read <folder> <records> <notes> <stop file>
//     loads both files over and over until the stop file appears; fails on any load that is
//     not exactly one whole generation.
#include "HistoryFile.h"
#include "JSONFile.h"
#include "Notes.h"

#include <filesystem>
#include <iostream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

std::vector<Dictation> historyGeneration(long generation, std::size_t count) {
    std::vector<Dictation> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        records[i].id = Uuid::generate();
        records[i].date = Dates::fromReferenceSeconds(static_cast<double>(generation));
        records[i].app = "Probe";
        // Long lines, so a rewrite takes many writes and a torn one would show.
        records[i].text = "generation " + std::to_string(generation) + std::string(400, '.');
        records[i].heard = records[i].text;
    }
    return records;
}

std::vector<Note> notesGeneration(long generation, std::size_t count) {
    std::vector<Note> notes(count);
    for (auto& note : notes) {
        note.text = "generation " + std::to_string(generation) + std::string(400, '.');
    }
    return notes;
}

template <typename List> bool isOneGeneration(const List& list, std::size_t count) {
    if (list.size() != count) {
        return false;
    }
    for (const auto& element : list) {
        if (element.text != list.front().text) {
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: history-file-probe write|read <folder> <records> <notes> [<stop>]\n";
        return 2;
    }
    const std::string mode = argv[1];
    const std::filesystem::path folder = argv[2];
    const std::size_t records = std::stoul(argv[3]);
    const std::size_t notes = std::stoul(argv[4]);
    const HistoryFile history(folder / "history.jsonl");
    const JSONFile<std::vector<Note>> notesFile(folder / "notes.json");

    if (mode == "write" && argc >= 7) {
        if (argc == 8) {
            const rlim_t size = std::stoul(argv[7]);
            const rlimit noCore{0, 0}, fileSize{size, size};
            ::setrlimit(RLIMIT_CORE, &noCore);
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        }
        for (long generation = std::stol(argv[5]); generation <= std::stol(argv[6]); ++generation) {
            history.save(historyGeneration(generation, records));
            notesFile.save(notesGeneration(generation, notes));
        }
        return 0;
    }
    if (mode == "read" && argc == 6) {
        const std::filesystem::path stop = argv[5];
        std::cout << "ready" << std::endl;
        long reads = 0;
        while (!std::filesystem::exists(stop)) {
            try {
                const auto loaded = history.load();
                if (!isOneGeneration(loaded, records)) {
                    std::cerr << "history load saw " << loaded.size()
                              << " records of mixed content\n";
                    return 1;
                }
                const auto loadedNotes = notesFile.load();
                if (!loadedNotes || !isOneGeneration(*loadedNotes, notes)) {
                    std::cerr << "notes load saw a partial document\n";
                    return 1;
                }
            } catch (const std::exception& error) {
                std::cerr << "load failed: " << error.what() << "\n";
                return 1;
            }
            ++reads;
        }
        std::cout << reads << std::endl;
        return 0;
    }
    std::cerr << "history-file-probe: unknown mode\n";
    return 2;
}
