#pragma once

// `parlwick --mcp`: answers MCP requests on standard input and output, one JSON message per
// line, until the input ends. A line longer than 4 MB is answered as invalid input and dropped
// unread. Reads the user's history and notes afresh for every tool call and never writes them.
// Needs no display and makes no application object.
#include "platform/Paths.h"

namespace ConnectorServer {

// The exit status.
int run(const Paths& paths);

} // namespace ConnectorServer
