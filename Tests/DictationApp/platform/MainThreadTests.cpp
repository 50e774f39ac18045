#include "PostedWork.h"
#include "platform/MainThread.h"

#include <gtest/gtest.h>
#include <initializer_list>
#include <thread>

namespace {

TEST(Inbox, WhatArrivesAfterItClosesIsDropped) {
    struct Row {
        const char* name;
        bool guarded; // a main-thread callback, else a report posted by a worker
        bool closed;  // the inbox closes before the work runs
        bool runs;
    };
    for (const Row& row : std::initializer_list<Row>{
             {"report while open", false, false, true},
             {"report posted while open, delivered after close", false, true, false},
             {"guarded callback while open", true, false, true},
             {"guarded callback after close", true, true, false},
         }) {
        PostedWork mainThread;
        Inbox inbox(mainThread.deliver());
        bool ran = false;
        const auto work = [&ran] { ran = true; };
        std::function<void()> run = inbox.guard(work);
        if (!row.guarded) {
            std::thread([post = inbox.post(), work] { post(work); }).join();
            run = [&mainThread] { mainThread.runPending(); };
        }
        if (row.closed) {
            inbox.close();
        }
        run();
        EXPECT_EQ(ran, row.runs) << row.name;
    }
}

} // namespace
