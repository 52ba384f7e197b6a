// Answers the message boxes that the test process itself raises, from a thread of its own, as a user
// at the screen would: the real box is found, read and its button pressed.
#pragma once

#include "launch_driver.h"

#include <atomic>
#include <mutex>
#include <thread>

class CBoxAnswerer
{
public:
    explicit CBoxAnswerer(std::vector<int> answers = {});
    CBoxAnswerer(const CBoxAnswerer&) = delete;
    CBoxAnswerer& operator=(const CBoxAnswerer&) = delete;
    ~CBoxAnswerer();

    std::vector<CWindowSnapshot> Boxes();

private:
    void Run();

    std::vector<int> m_answers;
    std::vector<CWindowSnapshot> m_boxes;
    std::mutex m_mutex;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
