#pragma once

#include "desktop/Clipboard.h"

#include <memory>

class WaylandConnection;

// The clipboard through the compositor's data-control protocol (ext-data-control-v1, or
// wlroots' older zwlr_data_control_manager_v1), which lets a program without a window read and
// set the selection. The protocol does not say who reads: any read of our text counts as the
// target's. Main thread only.
class DataControlClipboard : public Clipboard {
  public:
    // How long an owner gets to start answering for its contents.
    static constexpr int ownerAnswerMs = 300;
    // And to finish sending them, all formats together.
    static constexpr int snapshotMs = 2000;

    // Nothing when the compositor offers neither protocol.
    static std::unique_ptr<DataControlClipboard>
    make(std::shared_ptr<WaylandConnection> connection);
    // "ext-data-control-v1", "zwlr_data_control_manager_v1", or empty when neither is offered.
    static std::string offered(const WaylandConnection& connection);

    ~DataControlClipboard() override = default;

  protected:
    DataControlClipboard() = default;
};
