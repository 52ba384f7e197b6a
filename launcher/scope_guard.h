// CScopeGuard: runs an action when its scope is left on any path.
#pragma once

#include <utility>

template <class TAction> class CScopeGuard
{
public:
    explicit CScopeGuard(TAction action) : m_action(std::move(action)) {}
    CScopeGuard(const CScopeGuard&) = delete;
    CScopeGuard& operator=(const CScopeGuard&) = delete;
    ~CScopeGuard() { m_action(); }

private:
    TAction m_action;
};
