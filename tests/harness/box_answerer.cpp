// Answers the test process's own message boxes from a second thread.
#include "box_answerer.h"

CBoxAnswerer::CBoxAnswerer(std::vector<int> answers)
    : m_answers(std::move(answers)), m_thread([this] { Run(); })
{
}

CBoxAnswerer::~CBoxAnswerer()
{
    m_stop = true;
    m_thread.join();
}

std::vector<CWindowSnapshot> CBoxAnswerer::Boxes()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}

void CBoxAnswerer::Run()
{
    while (!m_stop)
    {
        Sleep(20);
        for (HWND hwnd : TopLevelWindowsOf(GetCurrentProcessId()))
        {
            if (!IsWindowVisible(hwnd) || !GetDlgItem(hwnd, 0xFFFF)) continue;
            Sleep(50);
            CWindowSnapshot box = SnapshotWindow(hwnd);
            if (box.className != L"#32770" || box.buttons.empty()) continue;
            size_t index;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                index = m_boxes.size();
                m_boxes.push_back(box);
            }
            const int answer = index < m_answers.size() ? m_answers[index] : DefaultAnswer(box);
            PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
            for (int n = 0; n < 250 && IsWindow(hwnd) && IsWindowVisible(hwnd); ++n)
                Sleep(20);
        }
    }
}
