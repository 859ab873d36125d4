#include "app/ProgramWindows.h"

#include "about/usabout.h"
#include "app/Unit1.h"
#include "package/Unit4.h"
#include "platform/AppWindows.h"
#include "recordings/Unit3.h"

namespace app {

ProgramWindows::ProgramWindows()
{
    m_form1 = std::make_unique<TForm1>();
    Form1 = m_form1.get();
    m_form1->showMaximized();

    m_form3 = std::make_unique<TForm3>();
    Form3 = m_form3.get();
    m_aboutus = std::make_unique<Taboutus>();
    aboutus = m_aboutus.get();
    m_form4 = std::make_unique<TForm4>();
    Form4 = m_form4.get();
}

ProgramWindows::~ProgramWindows()
{
    CurrentTestWindow = nullptr;
    Form4 = aboutus = Form3 = Form1 = nullptr;
}

} // namespace app
