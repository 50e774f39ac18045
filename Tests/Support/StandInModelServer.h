#pragma once

#include "HttpServers.h"
#include "TestSupport.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

// Tests/Support/stand-in-model-server.py in one of its modes, ended when this goes. A test
// including this defines STAND_IN_MODEL_SERVER as the script's path.
class StandInModelServer {
  public:
    explicit StandInModelServer(const std::string& mode, int status = 503) {
        const auto& folder = folder_.path();
        process_.emplace(std::vector<std::string>{STAND_IN_MODEL_SERVER, "--mode", mode, "--status",
                                                  std::to_string(status), "--delay", "10",
                                                  "--port-file", folder / "port", "--log",
                                                  folder / "requests.log"},
                         std::vector<std::pair<std::string, std::string>>{}, folder / "output.log");
        if (!eventually([&] { return !process_->isRunning() || exists(folder / "port"); }, 10) ||
            !process_->isRunning()) {
            throw std::runtime_error("the stand-in did not start: " +
                                     readAll(folder / "output.log"));
        }
        port_ = std::stoi(readAll(folder / "port"));
    }

    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_) + "/v1"; }
    // One object a request, in the order they came.
    std::vector<nlohmann::json> requests() const {
        std::vector<nlohmann::json> lines;
        std::istringstream in(readAll(folder_.path() / "requests.log"));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(nlohmann::json::parse(line));
        }
        return lines;
    }

  private:
    ServerFolder folder_;
    int port_ = 0;
    std::optional<BackgroundProcess> process_;
};
