#pragma once

#include "Dictation.h"
#include "Notes.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The MCP message handling of the connector server: one request line in, one reply line (or
// nothing) out. It reads the user's data through two loaders, afresh on every tool call, and
// never changes anything.
class Connector {
  public:
    // Newest first, already filtered by the retention setting. May throw.
    using HistoryLoader = std::function<std::vector<Dictation>()>;
    // May throw.
    using NotesLoader = std::function<std::vector<Note>()>;

    // The server's name; also the key AI apps register it under.
    static constexpr std::string_view name = "parlwick";
    static constexpr int defaultLimit = 20;
    static constexpr int maxLimit = 100;
    // Requests nested deeper than this, counting the request object, are invalid input; real
    // ones go a few levels deep.
    static constexpr int maxDepth = 100;

    Connector(HistoryLoader history, NotesLoader notes);

    // Compact JSON with sorted keys. Nothing for a notification. Never throws.
    std::optional<std::string> reply(std::string_view request) const;
    // The reply to invalid input, also for a line the server refuses unread.
    static std::string parseError();

  private:
    HistoryLoader history_;
    NotesLoader notes_;
};
