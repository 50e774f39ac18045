#pragma once

#include <functional>

// Hands work from a worker thread to the main thread.
using Deliver = std::function<void(std::function<void()>)>;

// Posts to the Qt application's event loop; work posted after the application is gone is
// dropped.
Deliver mainThread();
