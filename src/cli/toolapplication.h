#pragma once

#include <QStringList>

#include <memory>

class QCoreApplication;

namespace cli {

/// The tool's application object, made when a command first needs it. Most commands wait in
/// Qt's event loop or ask for the program's folder and get it before they start; a download
/// does neither, and scripts start one tool per movie, so it starts without one.
class ToolApplication
{
public:
    /// The arguments of main(), which must outlive this object.
    ToolApplication(int& argc, char** argv);
    ~ToolApplication();
    ToolApplication(const ToolApplication&) = delete;
    ToolApplication& operator=(const ToolApplication&) = delete;

    /// The command line after the program's name, as the application object would give it.
    QStringList arguments() const;

    /// Makes the application object unless there is one (made before, or a test's own).
    static void ensure();

private:
    int& m_argc;
    char** m_argv;
    std::unique_ptr<QCoreApplication> m_application;
};

} // namespace cli
