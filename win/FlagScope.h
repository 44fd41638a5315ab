// Sets a flag for the length of a scope and clears it however the scope ends (a re-entry
// guard around a nested message loop).
#pragma once

class CFlagScope {
public:
    explicit CFlagScope(bool& flag) noexcept : m_flag(flag) { m_flag = true; }
    ~CFlagScope() { m_flag = false; }
    CFlagScope(const CFlagScope&) = delete;
    CFlagScope& operator=(const CFlagScope&) = delete;

private:
    bool& m_flag;
};
