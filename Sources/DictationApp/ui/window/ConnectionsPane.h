#pragma once

#include "connector/Connections.h"
#include "platform/MainThread.h"
#include "platform/SerialQueue.h"
#include "ui/window/AppState.h"

#include <QWidget>
#include <array>
#include <optional>
#include <set>
#include <string>

class QLabel;
class QMessageBox;
class QPushButton;

// Connections: registers the connector server with AI apps. Detection and the pane's state
// live on the main thread; each change runs on the pane's own worker.
class ConnectionsPane : public QWidget {
    Q_OBJECT
  public:
    explicit ConnectionsPane(Paths paths, QWidget* parent = nullptr);
    ~ConnectionsPane() override;

    // The app being changed, if any; both buttons of every row wait for it.
    const std::optional<ConnectedApp>& busy() const { return busy_; }
    const std::set<ConnectedApp>& connected() const { return connected_; }

    // Reads every app's settings file again.
    void refresh();
    // Registers or removes the app off the main thread, then shows how that went.
    void change(ConnectedApp app, bool connect);
    // Blocks until the change under way has been handed back to the main thread, where it
    // shows at the next turn of the event loop.
    void waitForWorker() { worker_.drain(); }

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    struct Row {
        QWidget* connected = nullptr; // the check-mark and "Connected"
        QPushButton* connect = nullptr;
        QPushButton* remove = nullptr;
    };

    void ask(ConnectedApp app);
    void finished(const std::optional<std::string>& problem);
    void showState();

    Paths paths_;
    std::set<ConnectedApp> connected_;
    std::optional<ConnectedApp> busy_;
    std::optional<ConnectedApp> asking_;
    std::optional<std::string> problem_;
    bool isCopied_ = false;

    std::array<Row, ConnectedApps::allCases.size()> rows_;
    QLabel* problemLine_ = nullptr;
    QPushButton* copy_ = nullptr;
    QMessageBox* confirmation_ = nullptr;
    Inbox inbox_;
    SerialQueue worker_{"connections"};
};
