// clipvault-browser-host: the browser companion's native messaging host. The browser starts it;
// it relays between the extension and the running program (BrowserHost).

#include "browserhost.h"
#include "privatefolder.h"

#include <csignal>

#include <unistd.h>

int main()
{
    // A program or browser gone mid-write is an ordinary end, not a reason to die by SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    BrowserHost host(STDIN_FILENO, STDOUT_FILENO,
                     ProgramSocketPath(nativemessaging::HostDataFolder()));
    return host.run();
}
