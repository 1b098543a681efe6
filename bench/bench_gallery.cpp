// The gallery of a 10 000-item catalogue scrolled from top to bottom, a wheel's step each frame,
// every picture in the cache: the longest gap of the window thread's event loop meanwhile. The
// pictures are read off the window thread as their tiles come into view.

#include "benchfixtures.h"

#include "catalogue.h"
#include "itemgallery.h"
#include "itemlistmodel.h"
#include "picturecache.h"
#include "scriptedprompt.h"

#include <QDir>
#include <QImage>
#include <QListView>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

constexpr int kItems = 10000;

QByteArray contentOf(int i)
{
    return QByteArray::number(i).rightJustified(64, '0');
}

/// Scrolls the view from top to bottom, a wheel's step each frame, the view drawing what comes
/// into view on the event loop as it does for the user; the event loop's longest gap.
qint64 longestGapScrolling(QAbstractItemView& view)
{
    QScrollBar* bar = view.verticalScrollBar();
    Heartbeat heartbeat;
    heartbeat.start();
    QTimer frame;
    frame.setTimerType(Qt::PreciseTimer);
    QObject::connect(&frame, &QTimer::timeout, [&] { bar->setValue(bar->value() + 120); });
    frame.start(16);
    while (bar->value() < bar->maximum())
        QTest::qWait(16);
    frame.stop();
    return heartbeat.stop();
}

} // namespace

void RunGalleryScrollComparison()
{
    std::printf("\nThe gallery of %d items scrolled from top to bottom:\n", kItems);
    QTemporaryDir cache;
    const QByteArray previousCache = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    QDir().mkpath(PicturesFolder());
    ScriptedPrompt prompt;
    const OptionsRecord options = DefaultOptions();
    Catalogue catalogue(prompt, options);
    catalogue.AddCategory(CategoryNamed(QStringLiteral("Downloaded")));
    QImage picture(256, 192, QImage::Format_RGB32);
    catalogue.changeInBulk(Catalogue::List::Items, [&] {
        for (int i = 0; i < kItems; ++i) {
            ItemRecord item = EmptyItemRecord();
            item.State = static_cast<char>(ItemState::Downloaded);
            SetFieldText(item.Url, QStringLiteral("http://example.com/m%1.swf").arg(i));
            SetFieldText(item.Category, QStringLiteral("Downloaded"));
            SetFieldText(item.FileName, QStringLiteral("m%1.swf").arg(i));
            item.extras.sha256 = contentOf(i);
            catalogue.AppendItem(item);
            picture.fill(QColor::fromHsv(i % 360, 200, 220));
            picture.save(PicturePath(contentOf(i)));
        }
    });
    ItemListModel model(catalogue);
    model.showNode(QStringLiteral("Downloaded"));
    ItemGallery gallery(nullptr);
    gallery.setModel(&model);
    gallery.resize(1000, 700);
    gallery.show();
    QTest::qWait(200);

    const qint64 gap = longestGapScrolling(gallery);
    // The peer: Qt's own list of the same rows, names only, scrolled alike. Its gap is what the
    // machine itself gives a window thread that scrolls.
    QListView plain;
    plain.setModel(&model);
    plain.setUniformItemSizes(true);
    plain.resize(1000, 700);
    plain.show();
    QTest::qWait(200);
    const qint64 plainGap = longestGapScrolling(plain);
    std::printf("  longest event-loop gap: gallery %lld ms (target <= 16) | Qt's plain list of the "
                "names %lld ms\n",
                static_cast<long long>(gap), static_cast<long long>(plainGap));
    qputenv("XDG_CACHE_HOME", previousCache);
}
