// The pointer watch for real: libmhx on its own X connection, pointer moves made with XTest.

#include "hookappform.h"
#include "platformfactory.h"
#include "pointerhook.h"
#include "scriptedprompt.h"
#include "sharedblock.h"
#include "fake/fakepointerhook.h"
#include "waituntil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

// Xlib's macros clash with the headers above; it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace {

class Pointer
{
public:
    Pointer()
        : m_display(XOpenDisplay(nullptr))
    {
    }
    ~Pointer()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    Pointer(const Pointer&) = delete;
    Pointer& operator=(const Pointer&) = delete;
    void moveTo(int x, int y)
    {
        XTestFakeMotionEvent(m_display, -1, x, y, CurrentTime);
        XSync(m_display, False);
    }

private:
    Display* m_display;
};

/// Each test has a data folder of its own, so its block is new.
class PointerHookTest : public ::testing::Test
{
protected:
    QString blockPath() const
    {
        return SharedBlock::PathFor(qEnvironmentVariable("DISPLAY"), data.path());
    }
    QByteArray blockName() const { return QFile::encodeName(blockPath()); }

    /// Makes the block as someone else might have left it: `size` bytes, `mode`, `owner`.
    bool plantBlock(off_t size, mode_t mode, uid_t owner = getuid())
    {
        const int fd = ::open(blockName().constData(), O_RDWR | O_CREAT | O_EXCL, 0600);
        if (fd < 0)
            return false;
        const bool made =
            ftruncate(fd, size) == 0 && fchmod(fd, mode) == 0 && fchown(fd, owner, -1) == 0;
        ::close(fd);
        return made;
    }

    /// The planted block, mapped as another program would see it.
    std::int32_t* mapPlanted()
    {
        const int fd = ::open(blockName().constData(), O_RDWR);
        if (fd < 0)
            return nullptr;
        void* block = mmap(nullptr, 12, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        ::close(fd);
        return block == MAP_FAILED ? nullptr : static_cast<std::int32_t*>(block);
    }

    /// Moves the pointer until the window reports the point; false when it never does. Every
    /// point reported on the way is kept in `points`.
    bool reported(THookappForm& form, QPoint target)
    {
        form.setPointerHandler([this](QPoint point) { points << point; });
        QElapsedTimer sinceMove;
        return waitUntil([&] {
            if (!sinceMove.isValid() || sinceMove.elapsed() > 500) {
                // A move to where the pointer is already makes no motion: step aside first.
                pointer.moveTo(target.x() + 1, target.y() + 1);
                pointer.moveTo(target.x(), target.y());
                sinceMove.start();
            }
            return !points.isEmpty() && points.last() == target;
        });
    }

    QList<QPoint> points;

    QTemporaryDir data;
    ScriptedPrompt prompt;
    Pointer pointer;
};

} // namespace

TEST_F(PointerHookTest, MovesArriveWithTheirPointUntilTheWatchIsRemoved)
{
    const std::unique_ptr<PointerHook> hook = platform::createPointerHook();
    THookappForm form(*hook, prompt, blockPath());
    form.FormCreate(true);
    ASSERT_TRUE(form.HookInstalled());
    EXPECT_TRUE(form.block().isMapped());
    EXPECT_TRUE(form.block().created());
    EXPECT_TRUE(prompt.messages.empty());

    EXPECT_TRUE(reported(form, QPoint(120, 80)));
    EXPECT_TRUE(reported(form, QPoint(300, 211)));

    form.removeHook();
    points.clear();
    pointer.moveTo(10, 10);
    pointer.moveTo(50, 60);
    // Notifications arrive in order: one for the moves above would come before the next point.
    ASSERT_TRUE(form.installHook()) << "installing again works";
    EXPECT_TRUE(reported(form, QPoint(77, 66)));
    EXPECT_FALSE(points.contains(QPoint(10, 10)) || points.contains(QPoint(50, 60)))
        << "nothing is reported once removed";
}

TEST_F(PointerHookTest, AnExistingBlockIsOpenedWithItsPointButItsFlagDown)
{
    ASSERT_TRUE(plantBlock(12, 0600));
    std::int32_t* block = mapPlanted();
    ASSERT_NE(block, nullptr);
    block[0] = 1; // a notification that never arrived, left by the last run
    block[1] = 1234;
    block[2] = 567;
    SharedBlock opened(blockPath());
    EXPECT_FALSE(opened.created());
    EXPECT_EQ(block[0], 0) << "a standing flag would keep the library quiet for good";
    EXPECT_EQ(opened.takePoint(), QPoint(1234, 567));
    munmap(block, 12);
}

TEST_F(PointerHookTest, ALostNotificationNeverSilencesTheWatch)
{
    const std::unique_ptr<PointerHook> hook = platform::createPointerHook();
    THookappForm form(*hook, prompt, blockPath());
    form.FormCreate(true);
    ASSERT_TRUE(reported(form, QPoint(120, 80)));
    // The flag goes up with no message on its way: the library tries again after a moment.
    std::int32_t* block = mapPlanted();
    ASSERT_NE(block, nullptr);
    block[0] = 1;
    EXPECT_TRUE(reported(form, QPoint(200, 150)));
    munmap(block, 12);
}

TEST_F(PointerHookTest, ThePlaceWhereAQuickMoveEndsArrivesWithNoFurtherMove)
{
    const std::unique_ptr<PointerHook> hook = platform::createPointerHook();
    THookappForm form(*hook, prompt, blockPath());
    form.FormCreate(true);
    ASSERT_TRUE(reported(form, QPoint(120, 80)));
    // A hand's quick move: the points on the way come while the program reads the first.
    points.clear();
    for (int x = 130; x <= 230; x += 10)
        pointer.moveTo(x, 90);
    EXPECT_TRUE(waitUntil([&] { return !points.isEmpty() && points.last() == QPoint(230, 90); }))
        << "the pointer's resting place never arrived";
}

TEST_F(PointerHookTest, AnEmptyBlockMadeBeforeStartIsSizedAndThePointerStillArrives)
{
    // Mapped as it was, the first write to this block killed the program with SIGBUS.
    ASSERT_TRUE(plantBlock(0, 0600));
    const std::unique_ptr<PointerHook> hook = platform::createPointerHook();
    THookappForm form(*hook, prompt, blockPath());
    form.FormCreate(true);
    ASSERT_TRUE(form.HookInstalled());
    EXPECT_TRUE(reported(form, QPoint(140, 90)));
}

TEST_F(PointerHookTest, ABlockOthersMayReadIsReplacedAndAnotherUsersIsRefused)
{
    ASSERT_TRUE(plantBlock(12, 0666));
    {
        SharedBlock opened(blockPath());
        EXPECT_TRUE(opened.isMapped());
        EXPECT_TRUE(opened.created()) << "a private block replaces one open to everybody";
        struct stat facts = {};
        ASSERT_EQ(::stat(blockName().constData(), &facts), 0);
        EXPECT_EQ(facts.st_mode & 077, 0u);
    }
    ASSERT_EQ(::unlink(blockName().constData()), 0);
    ASSERT_EQ(::symlink("/etc/passwd", blockName().constData()), 0);
    EXPECT_FALSE(SharedBlock(blockPath()).isMapped()) << "a link under the name is refused";
    ASSERT_EQ(::unlink(blockName().constData()), 0);

    if (getuid() != 0)
        GTEST_SKIP() << "only root can make a block that belongs to another user";
    ASSERT_TRUE(plantBlock(12, 0600, 65534));
    const std::unique_ptr<PointerHook> hook = platform::createPointerHook();
    THookappForm form(*hook, prompt, blockPath());
    form.FormCreate(true);
    EXPECT_FALSE(form.block().isMapped());
    EXPECT_TRUE(form.HookInstalled()) << "the belief follows the option, as the switch shows";
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("Enable Mouse Hook failed."));
}

TEST_F(PointerHookTest, AFailedInstallSaysSo)
{
    const auto unavailable = std::make_unique<FakePointerHook>(false);
    THookappForm form(*unavailable, prompt, blockPath());
    form.FormCreate(true);
    EXPECT_FALSE(unavailable->isInstalled());
    EXPECT_TRUE(form.HookInstalled()) << "the belief follows the option, as the switch shows";
    ASSERT_EQ(prompt.messages.size(), 1u);
    EXPECT_EQ(prompt.messages[0].text, QStringLiteral("Enable Mouse Hook failed."));
}
