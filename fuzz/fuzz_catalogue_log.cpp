#include "catalogue.h"
#include "cataloguestore.h"
#include "userprompt.h"

#include <cstddef>
#include <cstdint>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

class Yes final : public UserPrompt
{
public:
    bool ask(const QString&, const QString&) override { return true; }
    void inform(const QString&, const QString&) override {}
};

} // namespace

// The same bytes as an items log and as a category log, loaded as at start-up.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static QTemporaryDir folder;
    for (const char* name : {"downloading.log", "category.log"}) {
        QFile file(QDir(folder.path()).filePath(QLatin1String(name)));
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    Yes prompt;
    const OptionsRecord options = DefaultOptions();
    Catalogue catalogue(prompt, options);
    CatalogueStore store(folder.path());
    store.LoadItems(catalogue);
    store.LoadCategories(catalogue);
    (void)store.unreadableNotice();
    // Every record is read back from the log, and every address must find an item again.
    catalogue.items().forEach([&](int, const ItemRecord& item) {
        if (catalogue.FindItemByUrl(FieldBytes(item.Url)) < 0)
            __builtin_trap();
        return true;
    });
    return 0;
}
