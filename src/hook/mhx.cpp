#include "mhx.h"

#include "mouseblock.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

/// One running watch: its own X connection and thread, never Qt's.
class Watch
{
public:
    bool start(Window target, const char* blockPath)
    {
        m_display = XOpenDisplay(nullptr);
        if (!m_display)
            return fail();
        int opcode = 0, event = 0, error = 0;
        int major = 2, minor = 2;
        if (!XQueryExtension(m_display, "XInputExtension", &opcode, &event, &error) ||
            XIQueryVersion(m_display, &major, &minor) != Success)
            return fail();
        m_opcode = opcode;
        mouseblock::Opened opened = mouseblock::Opened::Refused;
        m_block = blockPath ? mouseblock::map(blockPath, false, &opened) : nullptr; // the program's
        if (!m_block)
            return fail();
        mouseblock::flag(m_block).store(0);
        m_stop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (m_stop < 0)
            return fail();

        m_target = target;
        m_root = DefaultRootWindow(m_display);
        m_type = XInternAtom(m_display, "WM_QVNOTIFY", False);
        unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
        XISetMask(mask, XI_RawMotion);
        XIEventMask events{XIAllMasterDevices, static_cast<int>(sizeof mask), mask};
        XISelectEvents(m_display, m_root, &events, 1);
        XSync(m_display, False);
        m_thread = std::thread([this] { run(); });
        return true;
    }

    ~Watch()
    {
        if (m_thread.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = write(m_stop, &one, sizeof one);
            m_thread.join();
        }
        if (m_stop >= 0)
            close(m_stop);
        mouseblock::unmap(m_block);
        if (m_display)
            XCloseDisplay(m_display);
    }

private:
    bool fail() { return false; }

    void run()
    {
        pollfd fds[2] = {{ConnectionNumber(m_display), POLLIN, 0}, {m_stop, POLLIN, 0}};
        for (;;) {
            while (XPending(m_display) > 0) {
                XEvent event;
                XNextEvent(m_display, &event);
                if (event.xcookie.type == GenericEvent && event.xcookie.extension == m_opcode &&
                    event.xcookie.evtype == XI_RawMotion)
                    notify(Repeat::Send);
            }
            // A move held back while the program read the last point is owed: the place where
            // the pointer came to rest must reach it, not only a point it passed on the way.
            if (m_owed)
                notify(Repeat::Skip);
            if (poll(fds, 2, m_owed ? kOwedPollMs : -1) < 0)
                continue;
            if (fds[1].revents & POLLIN)
                return;
        }
    }

    /// Whether a point the program was told last is told again: a real move says so even when
    /// the pointer stands still (pressed against the screen's edge); an owed one need not.
    enum class Repeat
    {
        Send,
        Skip
    };

    void notify(Repeat repeat)
    {
        std::atomic<std::int32_t>& flag = mouseblock::flag(m_block);
        const auto now = std::chrono::steady_clock::now();
        // The last point has not been read yet: wait for it, but not for ever, since a
        // notification lost on the way would otherwise silence the watch for good.
        m_owed = flag.load() != 0 && now - m_notifiedAt < kLostAfter;
        if (m_owed)
            return;
        Window root = 0, child = 0;
        int x = 0, y = 0, windowX = 0, windowY = 0;
        unsigned int buttons = 0;
        if (!XQueryPointer(m_display, m_root, &root, &child, &x, &y, &windowX, &windowY, &buttons))
            return;
        if (repeat == Repeat::Skip && x == m_block[1] && y == m_block[2])
            return;
        m_block[1] = x;
        m_block[2] = y;
        flag.store(1);
        m_notifiedAt = now;
        XEvent message{};
        message.xclient.type = ClientMessage;
        message.xclient.window = m_target;
        message.xclient.message_type = m_type;
        message.xclient.format = 32;
        message.xclient.data.l[0] = x;
        message.xclient.data.l[1] = y;
        XSendEvent(m_display, m_target, False, NoEventMask, &message);
        XFlush(m_display);
    }

    /// How long a point may wait unread before the next move replaces it.
    static constexpr std::chrono::milliseconds kLostAfter{250};
    /// How often a watch that owes the program a point looks whether it was read.
    static constexpr int kOwedPollMs = 10;

    Display* m_display = nullptr;
    std::chrono::steady_clock::time_point m_notifiedAt;
    bool m_owed = false; ///< a move came while the last point was unread
    int m_opcode = 0;
    Window m_root = 0;
    Window m_target = 0;
    Atom m_type = 0;
    std::int32_t* m_block = nullptr;
    int m_stop = -1;
    std::thread m_thread;
};

std::mutex g_lock;
Watch* g_watch = nullptr;

} // namespace

extern "C" int InstallHook(unsigned long window, const char* blockPath)
{
    std::lock_guard lock(g_lock);
    delete g_watch;
    g_watch = nullptr;
    auto* watch = new Watch;
    if (!watch->start(static_cast<Window>(window), blockPath)) {
        delete watch;
        return 0;
    }
    g_watch = watch;
    return 1;
}

extern "C" void RemoveHook(void)
{
    std::lock_guard lock(g_lock);
    delete g_watch;
    g_watch = nullptr;
}
