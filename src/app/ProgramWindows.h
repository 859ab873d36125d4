#pragma once

#include <memory>

class TForm1;
class TForm3;
class TForm4;
class Taboutus;

namespace app {

// The program's long-lived windows, created in their fixed order and
// published through the application-wide references (platform/AppWindows.h)
// for as long as this object lives. The main window is shown as part of its
// creation, so its folder check runs before any other window exists.
// UI thread only.
class ProgramWindows
{
public:
    ProgramWindows();
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows &) = delete;
    ProgramWindows &operator=(const ProgramWindows &) = delete;

    [[nodiscard]] TForm1 &main() const { return *m_form1; }
    [[nodiscard]] TForm3 &recordings() const { return *m_form3; }

private:
    std::unique_ptr<TForm1> m_form1;
    std::unique_ptr<TForm3> m_form3;
    std::unique_ptr<Taboutus> m_aboutus;
    std::unique_ptr<TForm4> m_form4;
};

} // namespace app
