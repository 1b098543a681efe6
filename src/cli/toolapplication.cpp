#include "toolapplication.h"

#include <QCoreApplication>

namespace cli {

namespace {

ToolApplication* g_tool = nullptr;

} // namespace

ToolApplication::ToolApplication(int& argc, char** argv)
    : m_argc(argc)
    , m_argv(argv)
{
    g_tool = this;
}

ToolApplication::~ToolApplication()
{
    g_tool = nullptr;
}

QStringList ToolApplication::arguments() const
{
    QStringList words;
    for (int i = 1; i < m_argc; ++i)
        words.append(QString::fromLocal8Bit(m_argv[i]));
    return words;
}

void ToolApplication::ensure()
{
    if (QCoreApplication::instance() || !g_tool)
        return;
    // The program's name, which its settings and folders are found by.
    QCoreApplication::setApplicationName(QStringLiteral("clipvault"));
    // Qt's own event loop: the tool shares its loop with no GLib code, and GLib's would only
    // add to every command's start and memory. The programs it starts choose their own.
    const bool chooseLoop = qEnvironmentVariableIsEmpty("QT_NO_GLIB");
    if (chooseLoop)
        qputenv("QT_NO_GLIB", "1");
    g_tool->m_application = std::make_unique<QCoreApplication>(g_tool->m_argc, g_tool->m_argv);
    if (chooseLoop)
        qunsetenv("QT_NO_GLIB");
}

} // namespace cli
