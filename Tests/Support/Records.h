#pragma once

#include "Dictation.h"
#include "Uuid.h"

#include <cstdint>
#include <string>

// Dictation records as the controller makes them.
inline Dictation typedRecord(Timestamp date, std::string heard, std::string app = "Editor",
                             double seconds = 10, std::int64_t totalMs = 500) {
    Dictation record;
    record.id = Uuid::generate();
    record.date = date;
    record.seconds = seconds;
    record.app = std::move(app);
    record.outcome = Outcome::typed;
    record.text = heard;
    record.heard = std::move(heard);
    record.totalMs = totalMs;
    return record;
}

inline Dictation unheardRecord(Timestamp date, Outcome outcome = Outcome::silent,
                               std::string app = "Editor") {
    Dictation record;
    record.id = Uuid::generate();
    record.date = date;
    record.seconds = 3;
    record.app = std::move(app);
    record.outcome = outcome;
    record.problem = outcome == Outcome::silent ? "No speech found" : "Couldn't transcribe that";
    return record;
}

// A whole number of seconds after 2001-01-01 00:00:00 UTC: such dates survive the file exactly.
inline Timestamp referenceDate(double seconds) {
    return Dates::fromReferenceSeconds(seconds);
}
